// The activity and interface channels on a real SQLite store (written by the
// agent's own store class, its connection open as while the agent runs) and
// real files in a temporary directory.
#include "interface/interface_channels.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "agent/agent_database.h"
#include "agent/logger.h"
#include "channels/standard_codec.h"
#include "testing/fake_event_loop.h"
#include "testing/fake_flutter_ui.h"
#include "testing/inline_runner.h"
#include "testing/temp_dir.h"

namespace pilvo::interface {
namespace {

using channels::FlutterError;
using channels::FlutterMethodNotImplemented;
using channels::makeMap;
using channels::MethodResponse;
using channels::Value;
using channels::ValueList;
using channels::ValueMap;

std::string errorCode(const MethodResponse& response) {
  auto* error = std::get_if<FlutterError>(&response);
  return error ? error->code : "(no error)";
}

class InterfaceChannelsTest : public ::testing::Test {
 protected:
  InterfaceChannelsTest() {
    auto& registrar = engine_.registrarForPlugin("test");
    ActivityPlugin::registerWith(registrar, std::make_shared<ActivityStore>(storePath(), 50), loop_,
                                 std::make_unique<testing::InlineRunner>());
    files_ = std::make_shared<InterfaceFiles>(dir_.file("config/pilvo/interface.json"));
    InterfacePlugin::registerWith(registrar, files_);
  }
  std::string storePath() const { return dir_.file("data/pilvo/agent_events.db"); }

  MethodResponse call(const char* channel, const char* method, Value args = {}) {
    auto reply = ui_.sendRaw(channel, channels::encodeMethodCall({method, std::move(args)}));
    loop_.runUntilIdle();
    EXPECT_TRUE(reply->has_value());
    return *channels::decodeMethodResponse(reply->value_or(channels::Bytes{})).value;
  }
  // The answer's value, or "error: <code>" so that a failure shows in the comparison.
  static Value valueOrError(const MethodResponse& response) {
    auto* value = std::get_if<Value>(&response);
    return value ? *value : Value("error: " + errorCode(response));
  }
  Value firstIdSince(const std::string& since) {
    return valueOrError(call(kActivityChannelName, "firstIdSince", makeMap({{"since", since}})));
  }
  Value rows(int64_t afterId, Value limit = {}) {
    return valueOrError(call(kActivityChannelName, "eventsAfter",
                             makeMap({{"afterId", Value::integer(afterId)}, {"limit", limit}})));
  }
  MethodResponse mark(int upToId) {
    return call(kActivityChannelName, "markSynced", makeMap({{"upToId", upToId}}));
  }
  std::unique_ptr<agent::AgentDatabase> openAgentStore() {
    return std::make_unique<agent::AgentDatabase>(dir_.file("data/pilvo"), logger_, loop_);
  }

  testing::TempDir dir_;
  testing::FakeEventLoop loop_;
  agent::Logger logger_{dir_.file("agent.log"), loop_, nullptr};
  channels::FlutterEngine engine_{loop_, [](const std::string&) {}};
  testing::FakeFlutterUi ui_{engine_.binaryMessenger()};
  std::shared_ptr<InterfaceFiles> files_;
};

TEST_F(InterfaceChannelsTest, PagesOfRowsAndMarkingThemSyncedWhileTheAgentWrites) {
  EXPECT_EQ(rows(0), Value(ValueList{}));  // no store yet: nothing, and nothing created
  EXPECT_EQ(mark(5), MethodResponse(Value(0)));
  EXPECT_EQ(firstIdSince("2000-01-01T00:00:00Z"), Value());
  EXPECT_EQ(testing::fileMode(storePath()), -1);

  auto agentStore = openAgentStore();
  agentStore->insertEvent("appSwitch", std::string("org.gnome.TextEditor"), std::string("a.txt"));
  loop_.advance(60);
  agentStore->insertEvent("idle", std::nullopt, std::nullopt);
  loop_.advance(60);
  agentStore->insertEvent("active", std::nullopt, std::nullopt);

  const Value first = rows(0, Value(2));
  ASSERT_EQ(first.asList()->size(), 2u);
  const Value& row = (*first.asList())[0];
  EXPECT_EQ(*row.find("id"), Value(1));
  EXPECT_EQ(*row.find("type"), Value("appSwitch"));
  EXPECT_EQ(*row.find("bundleId"), Value("org.gnome.TextEditor"));
  EXPECT_EQ(*row.find("windowTitle"), Value("a.txt"));
  EXPECT_EQ(*row.find("synced"), Value(false));
  EXPECT_EQ(row.find("timestamp")->asString()->size(), std::string("2025-03-04T09:05:07Z").size());
  EXPECT_EQ(*(*first.asList())[1].find("bundleId"), Value());
  EXPECT_EQ(rows(2).asList()->size(), 1u);  // the rest
  EXPECT_EQ(rows(3), Value(ValueList{}));
  // Where a start that needs only the recent rows begins reading.
  const std::string second = *(*first.asList())[1].find("timestamp")->asString();
  EXPECT_EQ(firstIdSince("2000-01-01T00:00:00Z"), Value(1));
  EXPECT_EQ(firstIdSince(second), Value(2));
  EXPECT_EQ(firstIdSince("9999-01-01T00:00:00Z"), Value());

  EXPECT_EQ(mark(2), MethodResponse(Value(2)));
  EXPECT_EQ(mark(3),
            MethodResponse(Value(1)));  // only rows not marked before count
  EXPECT_EQ(*(*rows(0).asList())[2].find("synced"), Value(true));
  // The agent keeps writing with the host's connections coming and going.
  agentStore->insertEvent("idle", std::nullopt, std::nullopt);
  EXPECT_EQ(rows(3).asList()->size(), 1u);
  agentStore->close();
}

TEST_F(InterfaceChannelsTest, BadArgumentsAnswerInvalidArgs) {
  openAgentStore()->close();
  struct Case {
    const char* method;
    Value args;
  };
  const std::vector<Case> cases = {
      {"eventsAfter", Value()},
      {"eventsAfter", makeMap({{"limit", 10}})},
      {"eventsAfter", makeMap({{"afterId", "1"}})},
      {"eventsAfter", makeMap({{"afterId", 0}, {"limit", 0}})},
      {"eventsAfter", makeMap({{"afterId", 0}, {"limit", 5001}})},
      {"eventsAfter", makeMap({{"afterId", 0}, {"limit", 2.5}})},
      {"firstIdSince", makeMap({{"since", 5}})},
      {"markSynced", Value()},
      {"markSynced", makeMap({{"upToId", true}})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.args.debugString());
    EXPECT_EQ(errorCode(call(kActivityChannelName, c.method, c.args)), kInvalidArgsCode);
  }
  EXPECT_EQ(rows(0, Value(5000)), Value(ValueList{}));
  EXPECT_EQ(call(kActivityChannelName, "dropTable"), MethodResponse(FlutterMethodNotImplemented{}));
}

TEST_F(InterfaceChannelsTest, AStoreLockedLongerThanTheTimeoutIsAnErrorNotAHang) {
  openAgentStore()->close();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(storePath().c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(errorCode(mark(1)), kStoreErrorCode);
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

TEST_F(InterfaceChannelsTest, MarkingWritesOnlyTheSyncedColumn) {
  // The write connection's authorizer refuses anything else, even through a
  // trigger someone put on the table.
  auto agentStore = openAgentStore();
  agentStore->insertEvent("idle", std::nullopt, std::nullopt);
  ASSERT_TRUE(
      agentStore->exec("CREATE TRIGGER wipe AFTER UPDATE ON events BEGIN DELETE FROM events; END"));
  agentStore->close();
  EXPECT_EQ(errorCode(mark(1)), kStoreErrorCode);
  EXPECT_EQ(rows(0).asList()->size(), 1u);
}

TEST_F(InterfaceChannelsTest, TextFilesGoOnlyWhereTheSaveDialogPointed) {
  const std::string chosen = dir_.file("export.json");
  const std::string other = dir_.file("other.json");
  auto write = [&](const std::string& path, const char* text) {
    return call(kInterfaceChannelName, "writeTextFile", makeMap({{"path", path}, {"text", text}}));
  };
  EXPECT_EQ(errorCode(write(chosen, "x")), kPathNotAllowedCode);
  files_->allowPath(chosen);
  EXPECT_EQ(write(chosen, "[1]"), MethodResponse(Value()));
  EXPECT_EQ(write(chosen, "[1,2]"), MethodResponse(Value()));  // replaced whole
  EXPECT_EQ(testing::readFile(chosen), "[1,2]");
  EXPECT_EQ(testing::fileMode(chosen), 0600);
  // Spellings of another path that lead to the same place are still other paths.
  for (const std::string& path : {other, dir_.file("./export.json"), dir_.path() + "//export.json",
                                  std::string("export.json")}) {
    EXPECT_EQ(errorCode(write(path, "x")), kPathNotAllowedCode) << path;
  }
  EXPECT_EQ(testing::fileMode(other), -1);
  const std::string gone = dir_.file("missing/dir/out.json");
  files_->allowPath(gone);
  auto failed = write(gone, "x");
  ASSERT_EQ(errorCode(failed), kWriteFailedCode);
  EXPECT_NE(std::get<FlutterError>(failed).message->find("No such file"), std::string::npos);
  EXPECT_EQ(errorCode(call(kInterfaceChannelName, "writeTextFile", makeMap({{"path", chosen}}))),
            kInvalidArgsCode);
}

TEST_F(InterfaceChannelsTest, PreferencesSurviveARestartAndABrokenFileReadsEmpty) {
  const std::string file = dir_.file("config/pilvo/interface.json");
  EXPECT_EQ(call(kInterfaceChannelName, "loadPreferences"), MethodResponse(Value(ValueMap{})));
  const Value preferences = makeMap({{"sessionMinutes", 25},
                                     {"hideTitles", true},
                                     {"big", Value::integer(int64_t{1} << 40)},
                                     {"nested", ValueList{Value(1.5), Value("ü")}}});
  EXPECT_EQ(call(kInterfaceChannelName, "savePreferences", makeMap({{"preferences", preferences}})),
            MethodResponse(Value()));
  EXPECT_EQ(testing::fileMode(file), 0600);
  InterfaceFiles restarted(file);
  std::string error;
  EXPECT_EQ(channels::valueFromJson(restarted.loadPreferences(), &error), preferences);
  EXPECT_EQ(errorCode(call(kInterfaceChannelName, "savePreferences",
                           makeMap({{"preferences", ValueList{}}}))),
            kInvalidArgsCode);
  testing::writeFile(file, "{\"sessionMinutes\": 2");
  EXPECT_EQ(call(kInterfaceChannelName, "loadPreferences"), MethodResponse(Value(ValueMap{})));
}

}  // namespace
}  // namespace pilvo::interface
