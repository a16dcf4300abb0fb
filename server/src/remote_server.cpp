#include "qadj/server/remote_server.h"
