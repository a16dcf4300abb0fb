#include "qadj/protocol/appserver.h"

namespace qadj {

const com::Guid IID_IAppServer = *com::Guid::parse("{2C7AB8CD-6EB5-4670-9EB5-AFF9151148AA}");
const com::Guid CLSID_CoStoreProduct =
    *com::Guid::parse("{15F46FC4-4736-4AAF-9087-8A67C59E42F4}");

}  // namespace qadj
