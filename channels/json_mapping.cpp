#include "channels/json_mapping.h"

#include <glib.h>

#include <cmath>
#include <limits>

namespace pilvo::channels {
namespace {

using json = Json;

bool fail(std::string* error, const std::string& what) {
  if (error && error->empty()) *error = what;
  return false;
}

std::optional<double> jsonFloat(const json& j) {
  if (j.is_number()) return j.get<double>();
  if (j.is_string()) {
    const auto& s = j.get_ref<const std::string&>();
    if (s == "NaN") return std::numeric_limits<double>::quiet_NaN();
    if (s == "Infinity") return std::numeric_limits<double>::infinity();
    if (s == "-Infinity") return -std::numeric_limits<double>::infinity();
  }
  return std::nullopt;
}

json floatToJson(double d) {
  if (std::isnan(d)) return json{{"$float64", "NaN"}};
  if (std::isinf(d)) return json{{"$float64", d > 0 ? "Infinity" : "-Infinity"}};
  return json(d);
}

template <typename T>
bool numberList(const json& j, const char* key, std::vector<T>& out, std::string* error) {
  if (!j.is_array()) return fail(error, std::string(key) + " needs an array of numbers");
  for (const json& e : j) {
    if constexpr (std::is_floating_point_v<T>) {
      auto d = jsonFloat(e);
      if (!d) return fail(error, std::string(key) + " needs an array of numbers");
      out.push_back(static_cast<T>(*d));
    } else {
      if (!e.is_number_integer()) return fail(error, std::string(key) + " needs whole numbers");
      if (e.is_number_unsigned() && e.get<uint64_t>() > uint64_t(std::numeric_limits<T>::max())) {
        return fail(error, std::string(key) + " holds a number out of range");
      }
      const int64_t v = e.get<int64_t>();
      if (v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max()) {
        return fail(error, std::string(key) + " holds a number out of range");
      }
      out.push_back(static_cast<T>(v));
    }
  }
  return true;
}

template <typename T>
bool typedList(const json& j, const char* key, Value& out, std::string* error) {
  std::vector<T> v;
  if (!numberList(j, key, v, error)) return false;
  out = Value(std::move(v));
  return true;
}

bool convert(const json& j, Value& out, std::string* error, int depth);

bool forced(const std::string& key, const json& j, Value& out, std::string* error, int depth) {
  if (key == "$int64") {
    if (!j.is_number_integer() || (j.is_number_unsigned() && j.get<uint64_t>() > INT64_MAX)) {
      return fail(error, "$int64 needs a whole number that fits in 64 bits");
    }
    out = Value(j.get<int64_t>());
  } else if (key == "$float64") {
    auto d = jsonFloat(j);
    if (!d) return fail(error, "$float64 needs a number, \"NaN\", \"Infinity\" or \"-Infinity\"");
    out = Value(*d);
  } else if (key == "$bytes") {
    if (!j.is_string()) return fail(error, "$bytes needs a Base64 string");
    const auto& text = j.get_ref<const std::string&>();
    for (char c : text) {
      if (!g_ascii_isalnum(c) && c != '+' && c != '/' && c != '=') {
        return fail(error, "$bytes holds a character that is not Base64");
      }
    }
    gsize length = 0;
    guchar* raw = g_base64_decode(text.c_str(), &length);
    out = Value(std::vector<uint8_t>(raw, raw + length));
    g_free(raw);
  } else if (key == "$int32List") {
    return typedList<int32_t>(j, "$int32List", out, error);
  } else if (key == "$int64List") {
    return typedList<int64_t>(j, "$int64List", out, error);
  } else if (key == "$float32List") {
    return typedList<float>(j, "$float32List", out, error);
  } else if (key == "$float64List") {
    return typedList<double>(j, "$float64List", out, error);
  } else if (key == "$map") {
    if (!j.is_array()) return fail(error, "$map needs an array of [key, value] pairs");
    ValueMap map;
    for (const json& pair : j) {
      if (!pair.is_array() || pair.size() != 2) {
        return fail(error, "$map needs an array of [key, value] pairs");
      }
      Value k, v;
      if (!convert(pair[0], k, error, depth + 1) || !convert(pair[1], v, error, depth + 1)) {
        return false;
      }
      map.emplace_back(std::move(k), std::move(v));
    }
    out = Value(std::move(map));
  } else {
    return false;  // not a type marker: an ordinary one-key object
  }
  return true;
}

bool isMarker(const std::string& key) {
  static const char* const kMarkers[] = {"$int64",     "$float64",     "$bytes",       "$int32List",
                                         "$int64List", "$float32List", "$float64List", "$map"};
  for (const char* m : kMarkers) {
    if (key == m) return true;
  }
  return false;
}

bool convert(const json& j, Value& out, std::string* error, int depth) {
  if (depth > 100) return fail(error, "JSON nested too deeply");
  switch (j.type()) {
    case json::value_t::null:
      out = Value();
      return true;
    case json::value_t::boolean:
      out = Value(j.get<bool>());
      return true;
    case json::value_t::number_integer:
      out = Value::integer(j.get<int64_t>());
      return true;
    case json::value_t::number_unsigned:
      if (j.get<uint64_t>() > static_cast<uint64_t>(INT64_MAX)) {
        return fail(error, "the number " + j.dump() + " does not fit in 64 bits");
      }
      out = Value::integer(j.get<int64_t>());
      return true;
    case json::value_t::number_float:
      out = Value(j.get<double>());
      return true;
    case json::value_t::string:
      out = Value(j.get<std::string>());
      return true;
    case json::value_t::array: {
      ValueList list;
      for (const json& e : j) {
        Value v;
        if (!convert(e, v, error, depth + 1)) return false;
        list.push_back(std::move(v));
      }
      out = Value(std::move(list));
      return true;
    }
    case json::value_t::object: {
      if (j.size() == 1 && isMarker(j.begin().key())) {
        return forced(j.begin().key(), j.begin().value(), out, error, depth);
      }
      ValueMap map;
      for (auto it = j.begin(); it != j.end(); ++it) {
        Value v;
        if (!convert(it.value(), v, error, depth + 1)) return false;
        map.emplace_back(Value(it.key()), std::move(v));
      }
      out = Value(std::move(map));
      return true;
    }
    default:
      return fail(error, "unsupported JSON value");
  }
}

}  // namespace

std::optional<Value> valueFromJson(const json& j, std::string* error) {
  Value out;
  if (!convert(j, out, error, 0)) return std::nullopt;
  return out;
}

std::optional<Value> valueFromJsonText(std::string_view text, std::string* error) {
  json parsed = json::parse(text, nullptr, false);
  if (parsed.is_discarded()) {
    if (error) *error = "not valid JSON: " + std::string(text);
    return std::nullopt;
  }
  return valueFromJson(parsed, error);
}

json valueToJson(const Value& value) {
  return std::visit(
      [](const auto& v) -> json {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return nullptr;
        } else if constexpr (std::is_same_v<T, double>) {
          return floatToJson(v);
        } else if constexpr (std::is_same_v<T, int64_t>) {
          if (Value::integer(v).type() == Value::Type::kInt32) return json{{"$int64", v}};
          return json(v);
        } else if constexpr (std::is_same_v<T, bool> || std::is_same_v<T, int32_t> ||
                             std::is_same_v<T, std::string>) {
          return json(v);
        } else if constexpr (std::is_same_v<T, std::vector<uint8_t>>) {
          gchar* text = g_base64_encode(v.data(), v.size());
          json j{{"$bytes", std::string(text)}};
          g_free(text);
          return j;
        } else if constexpr (std::is_same_v<T, std::vector<int32_t>>) {
          return json{{"$int32List", v}};
        } else if constexpr (std::is_same_v<T, std::vector<int64_t>>) {
          return json{{"$int64List", v}};
        } else if constexpr (std::is_same_v<T, std::vector<float>> ||
                             std::is_same_v<T, std::vector<double>>) {
          json list = json::array();
          for (auto d : v) list.push_back(floatToJson(static_cast<double>(d)));
          return json{
              {std::is_same_v<T, std::vector<float>> ? "$float32List" : "$float64List", list}};
        } else if constexpr (std::is_same_v<T, ValueList>) {
          json list = json::array();
          for (const Value& e : v) list.push_back(valueToJson(e));
          return list;
        } else {
          bool stringKeys = true;
          for (const auto& [k, e] : v) stringKeys = stringKeys && k.asString();
          if (!stringKeys) {
            json pairs = json::array();
            for (const auto& [k, e] : v)
              pairs.push_back(json::array({valueToJson(k), valueToJson(e)}));
            return json{{"$map", pairs}};
          }
          json object = json::object();
          for (const auto& [k, e] : v) object[*k.asString()] = valueToJson(e);
          return object;
        }
      },
      value.storage());
}

Json errorToJson(const FlutterError& error) {
  return Json{{"code", error.code},
              {"message", error.message ? Json(*error.message) : Json(nullptr)},
              {"details", valueToJson(error.details)}};
}

}  // namespace pilvo::channels
