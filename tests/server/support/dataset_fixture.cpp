#include "support/dataset_fixture.h"

namespace qadj::dstest {

std::string errorText(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.what();
  }
  return "(no error)";
}

DetailFixture::DetailFixture(int rows, const std::function<void(packet::Packet&)>& adjust)
    : sets(CreateWindowDataSets(&server)) {
  packet::Packet p = detailPacket(rows);
  if (adjust) adjust(p);
  server.appServer->setResult("detail", p);
  ds().SetCommandText("detail");
  ds().Open();
}

std::string DetailFixture::codes() {
  std::string out;
  TField* f = ds().FieldByName("FXRY00");
  for (int i = 0; i < ds().RecordCount(); ++i) {
    if (i) out += ",";
    out += std::holds_alternative<std::monostate>(f->ValueAt(i)) ? "-" : f->DisplayTextAt(i);
  }
  return out;
}

}  // namespace qadj::dstest
