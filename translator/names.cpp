#include "names.h"

#include "messages.h"

void DataNames::Add(const DataName& d) {
  std::string_view name = d.name.trimmed();
  if (name.empty()) return;
  if (size() >= kDataNameTableCapacity) Fatal(Msg::kDataNamesFull);
  rows_.push_back(d);
  rows_.back().line = line;
  first_.emplace(std::string(name), size());
  declared_.emplace(name);
}

void DataNames::Declare(std::string_view name) {
  name = qwt::TrimRight(name);
  if (!name.empty() && name.size() <= 30) declared_.emplace(name);
}

const DataName* DataNames::Find(std::string_view name) const {
  // Names are held in 30 columns: a longer one is no declared name.
  if (name.empty() || name.size() > 30) return nullptr;
  auto it = first_.find(std::string(qwt::TrimRight(name)));
  return it == first_.end() ? nullptr : &rows_[std::size_t(it->second - 1)];
}

void DataNames::Bind(std::string_view record, char tableType, std::string_view table) {
  if (record.empty()) return;
  for (DataName& d : rows_) {
    if (d.record.trimmed() == record) {
      d.tableType = tableType;
      d.table.assign(table);
    }
  }
}

void DataNames::AddParameter(std::string_view name) {
  auto it = first_.find(std::string(qwt::TrimRight(name)));
  if (it != first_.end()) ++rows_[std::size_t(it->second - 1)].parameters;
}
