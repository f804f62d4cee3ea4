#include "engine/storage/record_writer.h"

#include "engine/storage/data_table.h"

namespace lun {

bool RecordWriter::SetValue(std::string_view field_name, Variant value) {
  return table_ && SetValueAt(table_->FieldPosition(field_name), std::move(value));
}

bool RecordWriter::SetValueAt(int position, Variant value) {
  if (!table_ || !table_->HasFieldAt(position)) return false;
  const size_t at = static_cast<size_t>(position);
  if (at >= values_.size()) values_.resize(at + 1);  // a field added since NewRecord
  values_[at] = std::move(value);
  prepared_ = false;
  return true;
}

EngineStatus RecordWriter::Prepare() {
  if (!table_) return EngineStatus::FailQuietly("表未打开");
  EngineStatus status = table_->EncodeRecord(values_, &body_, &stored_);
  prepared_ = status.ok();
  return status;
}

EngineStatus RecordWriter::Commit(uint32_t* record) {
  EngineStatus status = prepared_ ? EngineStatus::Ok() : Prepare();
  if (status) status = table_->AppendEncoded(body_, stored_, record);
  // Empty afterwards either way.
  values_.assign(values_.size(), Variant());
  prepared_ = false;
  body_.clear();
  stored_.clear();
  return status;
}

}  // namespace lun
