#include "qadj/appserver/transfer.h"

#include "qadj/appserver/server_error.h"
#include "qadj/platform/text.h"

namespace qadj::appserver {
namespace {

using statements::Kind;

// A slot's text, GBK as it was matched, in the server's UTF-8. Every matched text is
// well-formed GBK.
std::string utf8Of(const statements::Statement& s, std::size_t slot) {
  return text::gbkToUtf8(s.text(slot));
}

QuotaLineChange lineOf(const statements::Statement& s) {
  const Quantity amount = s.quantity(0);
  return {utf8Of(s, 1), utf8Of(s, 2), utf8Of(s, 3),
          s.kind == Kind::Decrement ? *Quantity::ofHundredths(-amount.hundredths()) : amount};
}

[[noreturn]] void refuse(const std::string& why) {
  throw ServerError("这次保存" + why + "，不是一次限量调整，没有修改任何限量");
}

}  // namespace

Transfer transferOf(const statements::Command& command) {
  Transfer t;
  QuantitySum given;
  for (const auto& s : command.statements) {
    QuotaLineChange line = lineOf(s);
    if (t.lines.empty()) {
      t.document = line.document;
      t.product = line.product;
    } else if (line.document != t.document || line.product != t.product) {
      refuse("的各行不属于同一张单据的同一个商品（单据 " + t.document + " 商品 " + t.product +
             "，又有单据 " + line.document + " 商品 " + line.product + "）");
    }
    if (s.kind == Kind::Decrement) {
      t.giver = line.salesperson;
      t.total = s.quantity(0);
    } else {
      t.receivers.emplace_back(line.salesperson, line.change);
      given.add(line.change);
    }
    t.lines.push_back(std::move(line));
  }
  if (!command.block) return t;
  for (const auto& [receiver, amount] : t.receivers)
    if (receiver == t.giver) refuse("把访销员 " + receiver + " 既作为调出方又作为调入方");
  if (given.hundredths() != t.total.hundredths()) {
    const auto sum = given.quantity();
    refuse("调入的合计 " + (sum ? sum->twoDecimals() : std::string("超出范围")) + " 与调出的 " +
           t.total.twoDecimals() + " 不相等");
  }
  return t;
}

}  // namespace qadj::appserver
