#include "settings/appcast.h"

#include <gtest/gtest.h>

namespace pilvo::settings {
namespace {

TEST(AppcastTest, VersionsCompareNumericallyByComponent) {
  struct Row {
    const char* a;
    const char* b;
    int expected;
  };
  for (const Row& row : std::vector<Row>{
           {"0.1.0", "0.1.0", 0},
           {"1.0", "1.0.0", 0},
           {"0.10.0", "0.9.9", 1},
           {"1.2", "1.10", -1},
           {"2", "1.99.99", 1},
           {"1.0.1", "1.0", 1},
           {"1.0beta1", "1.0", -1},
           {"1.0rc1", "1.0beta2", 1},
           {"1.0-rc.2", "1.0-rc.10", -1},
           {"007", "7", 0},
           {"99999999999999999999", "99999999999999999998", 1},
           {"", "0.1", -1},
           {"v1.2", "1.2", -1},
       }) {
    EXPECT_EQ(compareVersions(row.a, row.b), row.expected) << row.a << " vs " << row.b;
    EXPECT_EQ(compareVersions(row.b, row.a), -row.expected) << row.b << " vs " << row.a;
  }
}

std::string feed(const std::string& items) {
  return R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel><title>Pilvo</title>)" +
         items + "</channel></rss>";
}

TEST(AppcastTest, ItemsGiveTheirVersionsAndTheNewestNewerOneWins) {
  std::string error;
  const auto items = parseAppcast(feed(R"xml(
<item><title>0.3</title><sparkle:version>0.3.0</sparkle:version>
  <sparkle:shortVersionString>0.3</sparkle:shortVersionString>
  <sparkle:releaseNotesLink> https://example.org/notes/0.3 </sparkle:releaseNotesLink>
  <enclosure url="https://example.org/pilvo-0.3.tar.gz" length="10" type="application/gzip"/></item>
<item><title>0.10 (old style)</title><link>https://example.org/0.10</link>
  <enclosure url="https://example.org/pilvo-0.10.tar.gz" sparkle:version="0.10.0"/></item>
<item><title>no version</title><enclosure url="https://example.org/x"/></item>
<item><sparkle:version>0.0.9</sparkle:version>
  <enclosure url="javascript:alert(1)"/></item>)xml"),
                                  &error);
  ASSERT_TRUE(items) << error;
  ASSERT_EQ(items->size(), 3u);
  EXPECT_EQ((*items)[0].displayVersionString(), "0.3");
  EXPECT_EQ((*items)[0].pageUrl(), "https://example.org/notes/0.3");
  EXPECT_EQ((*items)[1].displayVersionString(), "0.10.0");
  EXPECT_EQ((*items)[1].pageUrl(), "https://example.org/0.10");
  EXPECT_EQ((*items)[2].pageUrl(), "");  // never opens anything but a web page

  EXPECT_EQ(newestUpdate(*items, "0.1.0")->version, "0.10.0");
  EXPECT_EQ(newestUpdate(*items, "0.5")->version, "0.10.0");
  EXPECT_FALSE(newestUpdate(*items, "0.10"));
  EXPECT_FALSE(newestUpdate(*items, "1.0"));
}

TEST(AppcastTest, BrokenOrHostileFeedsAreErrorsNotUpdates) {
  for (const std::string& text : {
           std::string(""),
           std::string("<rss><channel><item>"),
           std::string("<html><body>captive portal</body></html>"),
           std::string("\xff\xfe garbage"),
           // Entity expansion ("billion laughs") and external entities.
           std::string(R"(<?xml version="1.0"?><!DOCTYPE rss [<!ENTITY a "aaaaaaaaaa">
<!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;"><!ENTITY c "&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;">]>
<rss><channel><item><sparkle:version xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">&c;</sparkle:version></item></channel></rss>)"),
           std::string(
               R"(<?xml version="1.0"?><!DOCTYPE rss SYSTEM "http://127.0.0.1:1/x.dtd"><rss/>)"),
       }) {
    std::string error;
    EXPECT_FALSE(parseAppcast(text, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
  // Well-formed but without a usable item: no update, no error.
  std::string error;
  const auto none = parseAppcast(feed("<item><title>only a title</title></item>"), &error);
  ASSERT_TRUE(none) << error;
  EXPECT_TRUE(none->empty());
}

}  // namespace
}  // namespace pilvo::settings
