#include "replies/json_func.h"

#include <limits>
#include <optional>
#include <utility>

#include "sys/text_codec.h"

namespace Json_Func {
namespace {

using nlohmann::json;

// Replies are a few levels deep; anything nested far deeper is not a reply
// and would only exhaust the stack when it is copied or written out again.
constexpr size_t kMaxDepth = 512;

// Builds the first complete value of the text and stops there, so a chunk
// terminator or other bytes after the object do no harm.
class FirstValueBuilder : public nlohmann::detail::json_sax_dom_parser<json> {
 public:
  explicit FirstValueBuilder(json& result) : json_sax_dom_parser(result, false) {}

  bool start_object(size_t elements) { return enter() && json_sax_dom_parser::start_object(elements); }
  bool start_array(size_t elements) { return enter() && json_sax_dom_parser::start_array(elements); }
  bool end_object() {
    --depth_;
    return json_sax_dom_parser::end_object();
  }
  bool end_array() {
    --depth_;
    return json_sax_dom_parser::end_array();
  }

 private:
  bool enter() { return ++depth_ <= kMaxDepth; }

  size_t depth_ = 0;
};

// The first complete JSON value of the (GBK) JSON part, or nothing when the
// part does not hold one.
std::optional<json> parseFirstValue(const std::string& jsonPart) {
  if (jsonPart.empty()) return std::nullopt;
  const std::string utf8 = text::gbkToUtf8(jsonPart);
  json result;
  FirstValueBuilder builder(result);
  const bool parsed = json::sax_parse(utf8, &builder, json::input_format_t::json, /*strict=*/false);
  if (!parsed || builder.is_errored()) return std::nullopt;
  return result;
}

const json* member(const json& value, std::string_view key) {
  if (!value.is_object()) return nullptr;
  const auto found = value.find(std::string(key));
  return found == value.end() ? nullptr : &*found;
}

std::string asText(const json* value) {
  if (value == nullptr) return {};
  switch (value->type()) {
    case json::value_t::string:
      return text::utf8ToGbk(value->get_ref<const std::string&>());
    case json::value_t::boolean:
      return value->get<bool>() ? "true" : "false";
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
    case json::value_t::number_float:
    case json::value_t::object:
    case json::value_t::array:
      return text::utf8ToGbk(value->dump(-1, ' ', false, json::error_handler_t::replace));
    default:
      return {};
  }
}

bool asTruth(const json* value) {
  if (value == nullptr) return false;
  switch (value->type()) {
    case json::value_t::boolean:
      return value->get<bool>();
    case json::value_t::number_integer:
      return value->get<long long>() != 0;
    case json::value_t::number_unsigned:
      return value->get<unsigned long long>() != 0;
    case json::value_t::number_float:
      return value->get<double>() != 0;
    case json::value_t::string:
      return !value->get_ref<const std::string&>().empty();
    case json::value_t::object:
    case json::value_t::array:
      return true;
    default:
      return false;
  }
}

long long asInteger(const json* value) {
  if (value == nullptr) return 0;
  constexpr long long kMax = std::numeric_limits<long long>::max();
  switch (value->type()) {
    case json::value_t::number_integer:
      return value->get<long long>();
    case json::value_t::number_unsigned: {
      const auto number = value->get<unsigned long long>();
      return number > static_cast<unsigned long long>(kMax) ? kMax : static_cast<long long>(number);
    }
    case json::value_t::number_float: {
      // Clamped before the conversion: a float outside the range has no
      // integer value at all.
      const double number = value->get<double>();
      if (number >= 0x1p63) return kMax;
      if (number < -0x1p63) return std::numeric_limits<long long>::min();
      return static_cast<long long>(number);
    }
    default:
      return 0;
  }
}

// Moves the elements of `jsonData` into the caller's list; false when
// `jsonData` is missing or no list.
bool takeDataRecords(json& reply, RecordList& records) {
  if (!reply.is_object()) return false;
  const auto data = reply.find("jsonData");
  if (data == reply.end() || !data->is_array()) return false;
  for (json& element : *data) records.emplace_back(std::move(element));
  return true;
}

}  // namespace

JsonRecord::JsonRecord(nlohmann::json value) : value_(std::move(value)) {}

std::string JsonRecord::text(std::string_view key) const { return asText(member(value_, key)); }

long long JsonRecord::integer(std::string_view key) const { return asInteger(member(value_, key)); }

std::string ExtractJsonPart(std::string_view replyText) {
  const size_t start = replyText.find(R"({"status")");
  if (start == std::string_view::npos) return {};
  return std::string(replyText.substr(start));
}

bool ReadDataRecords(const std::string& jsonPart, RecordList& records) {
  std::optional<json> reply = parseFirstValue(jsonPart);
  return reply && takeDataRecords(*reply, records);
}

bool ReadInsertFlag(const std::string& jsonPart) {
  const std::optional<json> reply = parseFirstValue(jsonPart);
  if (!reply) return false;
  const json* data = member(*reply, "jsonData");
  return data != nullptr && asTruth(member(*data, "insert"));
}

std::string ReadProcessID(const std::string& jsonPart) {
  const std::optional<json> reply = parseFirstValue(jsonPart);
  return reply ? asText(member(*reply, "processID")) : std::string();
}

std::string ReadStatus(const std::string& jsonPart) {
  const std::optional<json> reply = parseFirstValue(jsonPart);
  return reply ? asText(member(*reply, "status")) : std::string();
}

void ReadLessonRecords(const std::string& jsonPart, RecordList& records) {
  std::optional<json> reply = parseFirstValue(jsonPart);
  if (!reply || asText(member(*reply, "time")) == "false") return;
  takeDataRecords(*reply, records);
}

std::string ReadKnownPath(const std::string& jsonPart) {
  const std::optional<json> reply = parseFirstValue(jsonPart);
  if (!reply || asText(member(*reply, "exist")) != "true") return {};
  return asText(member(*reply, "path"));
}

}  // namespace Json_Func
