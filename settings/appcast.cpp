#include "settings/appcast.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstring>

namespace pilvo::settings {
namespace {

bool isSparkle(const xmlNode* node) {
  return node->ns && node->ns->href &&
         std::strcmp(reinterpret_cast<const char*>(node->ns->href), kSparkleNamespace) == 0;
}

bool named(const xmlNode* node, const char* name) {
  return node->type == XML_ELEMENT_NODE &&
         std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

std::string trimmed(std::string s) {
  const char* space = " \t\r\n";
  const size_t first = s.find_first_not_of(space);
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(space) - first + 1);
}

std::string textOf(const xmlNode* node) {
  std::string text;
  for (const xmlNode* child = node->children; child; child = child->next) {
    if ((child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) && child->content) {
      text += reinterpret_cast<const char*>(child->content);
    }
  }
  return trimmed(std::move(text));
}

std::string attribute(const xmlNode* node, const char* name, const char* ns) {
  xmlChar* value =
      ns ? xmlGetNsProp(node, BAD_CAST name, BAD_CAST ns) : xmlGetNoNsProp(node, BAD_CAST name);
  std::string text = value ? reinterpret_cast<const char*>(value) : "";
  xmlFree(value);
  return trimmed(std::move(text));
}

AppcastItem readItem(const xmlNode* item) {
  AppcastItem result;
  std::string link;
  for (const xmlNode* child = item->children; child; child = child->next) {
    if (child->type != XML_ELEMENT_NODE) continue;
    if (isSparkle(child)) {
      if (named(child, "version")) result.version = textOf(child);
      if (named(child, "shortVersionString")) result.shortVersionString = textOf(child);
      if (named(child, "releaseNotesLink")) result.releaseNotesUrl = textOf(child);
    } else if (named(child, "enclosure")) {
      result.downloadUrl = attribute(child, "url", nullptr);
      // Older appcasts carry the versions on the enclosure.
      if (result.version.empty()) result.version = attribute(child, "version", kSparkleNamespace);
      if (result.shortVersionString.empty()) {
        result.shortVersionString = attribute(child, "shortVersionString", kSparkleNamespace);
      }
    } else if (named(child, "link") && !child->ns) {
      link = textOf(child);
    }
  }
  if (result.releaseNotesUrl.empty()) result.releaseNotesUrl = link;
  return result;
}

}  // namespace

bool isWebAddress(std::string_view url) {
  return url.starts_with("https://") || url.starts_with("http://");
}

std::string AppcastItem::pageUrl() const {
  if (isWebAddress(releaseNotesUrl)) return releaseNotesUrl;
  if (isWebAddress(downloadUrl)) return downloadUrl;
  return {};
}

std::optional<std::vector<AppcastItem>> parseAppcast(std::string_view xml, std::string* error) {
  // No network, no entity substitution, no DTD loading; errors are ours to report.
  xmlDocPtr doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "appcast.xml", nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (!doc) {
    const xmlError* last = xmlGetLastError();
    *error = std::string("the feed is not well-formed XML") +
             (last && last->message ? ": " + trimmed(last->message) : "");
    return std::nullopt;
  }
  std::optional<std::vector<AppcastItem>> items;
  const xmlNode* root = xmlDocGetRootElement(doc);
  if (doc->intSubset || doc->extSubset) {
    *error = "the feed declares a DTD, which an appcast never needs";
  } else if (!root || !named(root, "rss")) {
    *error = "the feed is not an RSS document";
  } else {
    items.emplace();
    for (const xmlNode* channel = root->children; channel; channel = channel->next) {
      if (!named(channel, "channel")) continue;
      for (const xmlNode* item = channel->children; item; item = item->next) {
        if (!named(item, "item")) continue;
        AppcastItem read = readItem(item);
        if (!read.version.empty()) items->push_back(std::move(read));
      }
    }
  }
  xmlFreeDoc(doc);
  return items;
}

namespace {

// One component: a run of digits or a run of other characters, separators
// ('.', '-', '_', '+', space) dropped.
struct Component {
  bool numeric;
  std::string_view text;
};

std::vector<Component> components(std::string_view v) {
  std::vector<Component> out;
  size_t i = 0;
  auto separator = [](char c) { return c == '.' || c == '-' || c == '_' || c == '+' || c == ' '; };
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  while (i < v.size()) {
    if (separator(v[i])) {
      ++i;
      continue;
    }
    const bool numeric = digit(v[i]);
    size_t j = i;
    while (j < v.size() && !separator(v[j]) && digit(v[j]) == numeric) ++j;
    std::string_view text = v.substr(i, j - i);
    if (numeric) {
      while (text.size() > 1 && text.front() == '0') text.remove_prefix(1);
    }
    out.push_back({numeric, text});
    i = j;
  }
  return out;
}

int sign(int x) { return (x > 0) - (x < 0); }

}  // namespace

int compareVersions(std::string_view a, std::string_view b) {
  const std::vector<Component> x = components(a);
  const std::vector<Component> y = components(b);
  for (size_t i = 0; i < std::max(x.size(), y.size()); ++i) {
    if (i >= x.size() || i >= y.size()) {
      // What is left decides: a number above zero makes a later version, text
      // (beta, rc) an earlier one.
      const bool xLonger = i < x.size();
      const Component& rest = xLonger ? x[i] : y[i];
      if (rest.numeric && rest.text == "0") continue;
      const int longerIsNewer = rest.numeric ? 1 : -1;
      return xLonger ? longerIsNewer : -longerIsNewer;
    }
    const Component& p = x[i];
    const Component& q = y[i];
    if (p.numeric != q.numeric) return p.numeric ? 1 : -1;
    if (p.numeric && p.text.size() != q.text.size()) return p.text.size() < q.text.size() ? -1 : 1;
    if (const int c = p.text.compare(q.text); c != 0) return sign(c);
  }
  return 0;
}

std::optional<AppcastItem> newestUpdate(const std::vector<AppcastItem>& items,
                                        std::string_view currentVersion) {
  const AppcastItem* newest = nullptr;
  for (const AppcastItem& item : items) {
    if (compareVersions(item.version, currentVersion) <= 0) continue;
    if (!newest || compareVersions(item.version, newest->version) > 0) newest = &item;
  }
  if (!newest) return std::nullopt;
  return *newest;
}

}  // namespace pilvo::settings
