#include "apps/mailstore/MailAddress.h"

#include <string>

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view Unquote(std::string_view name) {
  name = Trim(name);
  if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
    name = Trim(name.substr(1, name.size() - 2));
  return name;
}

MailAddress Make(std::string_view name, std::string_view address) {
  return MailAddress{std::string(Unquote(name)), std::string(Trim(address))};
}

}  // namespace

MailAddress ParseMailbox(std::string_view item) {
  item = Trim(item);
  // Round form: the name runs from the first "(" to the closing ")" at the very end, so a
  // name that holds parentheses of its own stays whole.
  size_t open = item.find('(');
  if (!item.empty() && item.back() == ')' && open != std::string_view::npos)
    return Make(item.substr(open + 1, item.size() - open - 2), item.substr(0, open));
  size_t lt = item.find('<');
  size_t gt = lt == std::string_view::npos ? lt : item.find('>', lt);
  if (gt != std::string_view::npos) {
    std::string_view after = Trim(item.substr(gt + 1));
    std::string_view before = item.substr(0, lt);
    return Make(Trim(before).empty() ? after : before, item.substr(lt + 1, gt - lt - 1));
  }
  return Make({}, item);
}

std::vector<MailAddress> ParseAddressList(std::string_view list) {
  std::vector<MailAddress> result;
  int parens = 0;
  bool angled = false;
  bool quoted = false;
  size_t start = 0;
  for (size_t i = 0; i <= list.size(); i++) {
    char c = i < list.size() ? list[i] : ',';
    if (c == '"') quoted = !quoted;
    if (quoted && i < list.size()) continue;
    if (c == '(') parens++;
    if (c == ')' && parens > 0) parens--;
    if (c == '<') angled = true;
    if (c == '>') angled = false;
    if (c != ',' || ((parens > 0 || angled) && i < list.size())) continue;
    MailAddress mailbox = ParseMailbox(list.substr(start, i - start));
    if (!mailbox.address.empty() || !mailbox.name.empty()) result.push_back(std::move(mailbox));
    start = i + 1;
  }
  return result;
}

std::string FormatMailbox(const MailAddress &mailbox) {
  if (mailbox.name.empty()) return mailbox.address;
  return mailbox.name + " <" + mailbox.address + ">";
}
