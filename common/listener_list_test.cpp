#include "common/listener_list.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

namespace pilvo {
namespace {

using Listeners = ListenerList<std::function<void(std::string&)>>;

void callAll(Listeners& list, std::string& log) {
  list.forEach([&](auto& listener) { listener(log); });
}

TEST(ListenerListTest, ListenersChangedDuringARoundTakeEffectAsDocumented) {
  Listeners list;
  std::unique_ptr<EventSource> first, second, added;
  first = list.add([&](std::string& log) {
    log += "1";
    second.reset();  // removed before its turn: not called this round
    if (!added) added = list.add([](std::string& log) { log += "3"; });
  });
  second = list.add([](std::string& log) { log += "2"; });
  std::string log;
  callAll(list, log);
  EXPECT_EQ(log, "1");
  callAll(list, log);
  EXPECT_EQ(log, "113");

  first.reset();
  log.clear();
  callAll(list, log);
  EXPECT_EQ(log, "3");
}

TEST(ListenerListTest, DestroyingTheListInAListenerEndsTheRoundAndHandlesOutliveIt) {
  std::optional<Listeners> list;
  list.emplace();
  int calls = 0;
  auto destroyer = list->add([&](std::string&) {
    ++calls;
    list.reset();
  });
  auto later = list->add([&](std::string&) { ++calls; });
  std::string log;
  list->forEach([&](auto& listener) { listener(log); });
  EXPECT_EQ(calls, 1);
  // Dropping handles of a list that is gone does nothing (ASan would see a use after free).
  destroyer.reset();
  later.reset();
}

}  // namespace
}  // namespace pilvo
