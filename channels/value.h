// The values that cross a channel: exactly what the standard message codec
// carries (null, booleans, 32/64-bit integers, doubles, strings, typed lists,
// lists and maps). Maps keep their entries in wire order and may have keys of
// any type; channel code reads them with the member helpers below.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace pilvo::channels {

class Value;
using ValueList = std::vector<Value>;
using ValueMap = std::vector<std::pair<Value, Value>>;  // entries in wire order

class Value {
 public:
  enum class Type {
    kNull,
    kBool,
    kInt32,
    kInt64,
    kFloat64,
    kString,
    kUint8List,
    kInt32List,
    kInt64List,
    kFloat32List,
    kFloat64List,
    kList,
    kMap,
  };

  Value() = default;
  Value(std::nullptr_t) {}
  Value(bool b) : data_(b) {}
  Value(int32_t i) : data_(i) {}
  Value(int64_t i) : data_(i) {}
  Value(double d) : data_(d) {}
  Value(std::string s) : data_(std::move(s)) {}
  Value(std::string_view s) : data_(std::string(s)) {}
  Value(const char* s) : data_(std::string(s)) {}
  Value(std::vector<uint8_t> v) : data_(std::move(v)) {}
  Value(std::vector<int32_t> v) : data_(std::move(v)) {}
  Value(std::vector<int64_t> v) : data_(std::move(v)) {}
  Value(std::vector<float> v) : data_(std::move(v)) {}
  Value(std::vector<double> v) : data_(std::move(v)) {}
  Value(ValueList v) : data_(std::move(v)) {}
  Value(ValueMap v) : data_(std::move(v)) {}

  // An integer as the smallest type that holds it (int32 when it fits).
  static Value integer(int64_t i);

  Type type() const { return static_cast<Type>(data_.index()); }
  bool isNull() const { return type() == Type::kNull; }

  // Typed access: nullptr when the value has another type.
  template <typename T>
  const T* getIf() const {
    return std::get_if<T>(&data_);
  }
  template <typename T>
  T* getIf() {
    return std::get_if<T>(&data_);
  }
  const std::string* asString() const { return getIf<std::string>(); }
  const ValueList* asList() const { return getIf<ValueList>(); }
  const ValueMap* asMap() const { return getIf<ValueMap>(); }
  std::optional<bool> asBool() const;
  // int32 or int64.
  std::optional<int64_t> asInt() const;
  // Any number (int32, int64, float64) as a double.
  std::optional<double> asNumber() const;
  // A whole number: int32, int64, or a float64 whose value is whole and fits in int64.
  std::optional<int64_t> asWholeNumber() const;

  // Map lookup by string key; nullptr when this is not a map or the key is absent.
  const Value* find(std::string_view key) const;

  // Equality is exact: int32 5 and int64 5 differ, as do 1 and 1.0.
  // Doubles compare bitwise, so NaN equals the same NaN.
  friend bool operator==(const Value& a, const Value& b);

  // Short readable form for logs and test failures, e.g. {"a": [1, 2.5]}.
  std::string debugString() const;

  using Storage = std::variant<std::monostate, bool, int32_t, int64_t, double, std::string,
                               std::vector<uint8_t>, std::vector<int32_t>, std::vector<int64_t>,
                               std::vector<float>, std::vector<double>, ValueList, ValueMap>;
  const Storage& storage() const { return data_; }

 private:
  Storage data_;
};

const char* typeName(Value::Type type);

// For test failure messages.
inline void PrintTo(const Value& value, std::ostream* out) { *out << value.debugString(); }

// Channel conventions for reading arguments key by key from a map with string
// keys. A value of the wrong type counts as missing; so does a missing key, and
// so does everything when `args` is not a map.
const Value* member(const Value& args, std::string_view key);
const std::string* stringMember(const Value& args, std::string_view key);
std::optional<bool> boolMember(const Value& args, std::string_view key);
// A number where a whole number is expected counts only when its value is whole
// (3 and 3.0 count, 3.5 does not).
std::optional<int64_t> wholeNumberMember(const Value& args, std::string_view key);
// Any number, as a double.
std::optional<double> numberMember(const Value& args, std::string_view key);
const ValueList* listMember(const Value& args, std::string_view key);
const ValueMap* mapMember(const Value& args, std::string_view key);

// Builds a map with string keys in the given order: makeMap({{"a", 1}, {"b", "x"}}).
Value makeMap(std::initializer_list<std::pair<std::string_view, Value>> entries);

}  // namespace pilvo::channels
