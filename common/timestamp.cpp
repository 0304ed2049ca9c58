#include "common/timestamp.h"

#include <glib.h>

#include <cstdio>
#include <ctime>

namespace pilvo {

std::string formatTimestamp(std::chrono::system_clock::time_point t) {
  const std::time_t secs = std::chrono::system_clock::to_time_t(
      std::chrono::floor<std::chrono::seconds>(t));
  std::tm utc{};
  gmtime_r(&secs, &utc);
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return buf;
}

std::optional<std::chrono::system_clock::time_point> subtractLocalDays(
    std::chrono::system_clock::time_point t, int days) {
  const auto micros =
      std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
  GDateTime* utc = g_date_time_new_from_unix_utc(micros / G_USEC_PER_SEC);
  if (!utc) return std::nullopt;
  GDateTime* local = g_date_time_to_local(utc);
  g_date_time_unref(utc);
  if (!local) return std::nullopt;
  GDateTime* earlier = g_date_time_add_days(local, -days);
  g_date_time_unref(local);
  if (!earlier) return std::nullopt;
  const gint64 secs = g_date_time_to_unix(earlier);
  g_date_time_unref(earlier);
  return std::chrono::system_clock::time_point(std::chrono::seconds(secs)) +
         std::chrono::microseconds(micros % G_USEC_PER_SEC);
}

}  // namespace pilvo
