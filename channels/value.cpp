#include "channels/value.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>

namespace pilvo::channels {
namespace {

template <typename T>
bool sameElements(const std::vector<T>& a, const std::vector<T>& b) {
  if (a.size() != b.size()) return false;
  return a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0;
}

void appendQuoted(std::ostringstream& out, const std::string& s) {
  out << '"';
  for (char c : s) {
    if (c == '"' || c == '\\') out << '\\';
    out << c;
  }
  out << '"';
}

template <typename T>
void appendNumbers(std::ostringstream& out, const char* name, const std::vector<T>& v) {
  out << name << '[';
  for (size_t i = 0; i < v.size(); ++i) {
    if (i) out << ", ";
    if constexpr (sizeof(T) == 1) {
      out << static_cast<int>(v[i]);
    } else {
      out << v[i];
    }
  }
  out << ']';
}

void appendDebug(std::ostringstream& out, const Value& value) {
  std::visit(
      [&out](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          out << "null";
        } else if constexpr (std::is_same_v<T, bool>) {
          out << (v ? "true" : "false");
        } else if constexpr (std::is_same_v<T, int32_t>) {
          out << v;
        } else if constexpr (std::is_same_v<T, int64_t>) {
          out << v << 'L';
        } else if constexpr (std::is_same_v<T, double>) {
          std::ostringstream d;
          d.precision(17);
          d << v;
          std::string s = d.str();
          if (s.find_first_of(".eEn") == std::string::npos) s += ".0";
          out << s;
        } else if constexpr (std::is_same_v<T, std::string>) {
          appendQuoted(out, v);
        } else if constexpr (std::is_same_v<T, std::vector<uint8_t>>) {
          appendNumbers(out, "u8", v);
        } else if constexpr (std::is_same_v<T, std::vector<int32_t>>) {
          appendNumbers(out, "i32", v);
        } else if constexpr (std::is_same_v<T, std::vector<int64_t>>) {
          appendNumbers(out, "i64", v);
        } else if constexpr (std::is_same_v<T, std::vector<float>>) {
          appendNumbers(out, "f32", v);
        } else if constexpr (std::is_same_v<T, std::vector<double>>) {
          appendNumbers(out, "f64", v);
        } else if constexpr (std::is_same_v<T, ValueList>) {
          out << '[';
          for (size_t i = 0; i < v.size(); ++i) {
            if (i) out << ", ";
            appendDebug(out, v[i]);
          }
          out << ']';
        } else {
          out << '{';
          for (size_t i = 0; i < v.size(); ++i) {
            if (i) out << ", ";
            appendDebug(out, v[i].first);
            out << ": ";
            appendDebug(out, v[i].second);
          }
          out << '}';
        }
      },
      value.storage());
}

}  // namespace

Value Value::integer(int64_t i) {
  if (i >= std::numeric_limits<int32_t>::min() && i <= std::numeric_limits<int32_t>::max()) {
    return Value(static_cast<int32_t>(i));
  }
  return Value(i);
}

std::optional<bool> Value::asBool() const {
  if (const bool* b = getIf<bool>()) return *b;
  return std::nullopt;
}

std::optional<int64_t> Value::asInt() const {
  if (const int32_t* i = getIf<int32_t>()) return *i;
  if (const int64_t* i = getIf<int64_t>()) return *i;
  return std::nullopt;
}

std::optional<double> Value::asNumber() const {
  if (auto i = asInt()) return static_cast<double>(*i);
  if (const double* d = getIf<double>()) return *d;
  return std::nullopt;
}

std::optional<int64_t> Value::asWholeNumber() const {
  if (auto i = asInt()) return i;
  const double* d = getIf<double>();
  // 2^63 is exactly representable; everything below it in magnitude converts safely.
  constexpr double kLimit = 9223372036854775808.0;
  if (!d || !std::isfinite(*d) || std::trunc(*d) != *d || *d >= kLimit || *d < -kLimit) {
    return std::nullopt;
  }
  return static_cast<int64_t>(*d);
}

const Value* Value::find(std::string_view key) const {
  const ValueMap* map = asMap();
  if (!map) return nullptr;
  for (const auto& [k, v] : *map) {
    const std::string* s = k.asString();
    if (s && *s == key) return &v;
  }
  return nullptr;
}

bool operator==(const Value& a, const Value& b) {
  if (a.type() != b.type()) return false;
  return std::visit(
      [&b](const auto& x) -> bool {
        using T = std::decay_t<decltype(x)>;
        const T& y = std::get<T>(b.storage());
        if constexpr (std::is_same_v<T, std::monostate>) {
          return true;
        } else if constexpr (std::is_same_v<T, double>) {
          return std::memcmp(&x, &y, sizeof x) == 0;
        } else if constexpr (std::is_same_v<T, std::vector<float>> ||
                             std::is_same_v<T, std::vector<double>>) {
          return sameElements(x, y);
        } else {
          return x == y;
        }
      },
      a.storage());
}

std::string Value::debugString() const {
  std::ostringstream out;
  appendDebug(out, *this);
  return out.str();
}

const char* typeName(Value::Type type) {
  switch (type) {
    case Value::Type::kNull:
      return "null";
    case Value::Type::kBool:
      return "bool";
    case Value::Type::kInt32:
      return "int32";
    case Value::Type::kInt64:
      return "int64";
    case Value::Type::kFloat64:
      return "float64";
    case Value::Type::kString:
      return "string";
    case Value::Type::kUint8List:
      return "uint8 list";
    case Value::Type::kInt32List:
      return "int32 list";
    case Value::Type::kInt64List:
      return "int64 list";
    case Value::Type::kFloat32List:
      return "float32 list";
    case Value::Type::kFloat64List:
      return "float64 list";
    case Value::Type::kList:
      return "list";
    case Value::Type::kMap:
      return "map";
  }
  return "unknown";
}

const Value* member(const Value& args, std::string_view key) { return args.find(key); }

const std::string* stringMember(const Value& args, std::string_view key) {
  const Value* v = member(args, key);
  return v ? v->asString() : nullptr;
}

std::optional<bool> boolMember(const Value& args, std::string_view key) {
  const Value* v = member(args, key);
  return v ? v->asBool() : std::nullopt;
}

std::optional<int64_t> wholeNumberMember(const Value& args, std::string_view key) {
  const Value* v = member(args, key);
  return v ? v->asWholeNumber() : std::nullopt;
}

std::optional<double> numberMember(const Value& args, std::string_view key) {
  const Value* v = member(args, key);
  return v ? v->asNumber() : std::nullopt;
}

const ValueList* listMember(const Value& args, std::string_view key) {
  const Value* v = member(args, key);
  return v ? v->asList() : nullptr;
}

const ValueMap* mapMember(const Value& args, std::string_view key) {
  const Value* v = member(args, key);
  return v ? v->asMap() : nullptr;
}

Value makeMap(std::initializer_list<std::pair<std::string_view, Value>> entries) {
  ValueMap map;
  map.reserve(entries.size());
  for (const auto& [k, v] : entries) map.emplace_back(Value(k), v);
  return Value(std::move(map));
}

}  // namespace pilvo::channels
