#include "host/window_frame.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <nlohmann/json.hpp>

namespace pilvo::host {
namespace {

constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Keeps coordinates far inside int range before converting.
constexpr double kCoordinateLimit = 1e6;

int toCoordinate(double v) {
  return static_cast<int>(std::lround(std::clamp(v, -kCoordinateLimit, kCoordinateLimit)));
}

}  // namespace

std::optional<std::string> decodeBase64Strict(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::array<int, 256> lookup;
  lookup.fill(-1);
  for (size_t i = 0; i < kBase64Alphabet.size(); ++i) {
    lookup[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<int>(i);
  }
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    int v[4];
    int padding = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = text[i + k];
      if (c == '=') {
        // Padding only at the end of the last group, and at most two.
        if (!last || k < 2) return std::nullopt;
        ++padding;
        v[k] = 0;
        continue;
      }
      if (padding > 0) return std::nullopt;
      v[k] = lookup[static_cast<unsigned char>(c)];
      if (v[k] < 0) return std::nullopt;
    }
    const uint32_t bits = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
    out.push_back(static_cast<char>((bits >> 16) & 0xff));
    if (padding < 2) out.push_back(static_cast<char>((bits >> 8) & 0xff));
    if (padding < 1) out.push_back(static_cast<char>(bits & 0xff));
  }
  return out;
}

std::optional<WindowFrame> restoreFrame(const std::optional<std::string>& stored) {
  if (!stored) return std::nullopt;
  std::optional<std::string> bytes = decodeBase64Strict(*stored);
  if (!bytes) return std::nullopt;
  nlohmann::json json = nlohmann::json::parse(*bytes, nullptr, /*allow_exceptions=*/false);
  if (!json.is_object()) return std::nullopt;
  // Every member must be a finite number, also those whose names are ignored.
  for (const auto& [name, value] : json.items()) {
    if (!value.is_number() || !std::isfinite(value.get<double>())) return std::nullopt;
  }
  auto member = [&](const char* name, double fallback) {
    auto it = json.find(name);
    return it == json.end() ? fallback : it->get<double>();
  };
  WindowFrame frame;
  frame.x = member("x", kDefaultOriginX);
  frame.y = member("y", kDefaultOriginY);
  frame.width = std::max(member("width", kDefaultContentWidth), double{kMinWindowWidth});
  frame.height = std::max(member("height", kDefaultContentHeight), double{kMinWindowHeight});
  return frame;
}

std::optional<std::string> encodeFrame(const WindowFrame& frame) {
  for (double v : {frame.x, frame.y, frame.width, frame.height}) {
    if (!std::isfinite(v)) return std::nullopt;
  }
  const nlohmann::json json = {
      {"x", frame.x}, {"y", frame.y}, {"width", frame.width}, {"height", frame.height}};
  const std::string text = json.dump();
  std::string out;
  out.reserve((text.size() + 2) / 3 * 4);
  for (size_t i = 0; i < text.size(); i += 3) {
    const size_t n = std::min<size_t>(3, text.size() - i);
    uint32_t bits = static_cast<uint32_t>(static_cast<unsigned char>(text[i])) << 16;
    if (n > 1) bits |= static_cast<uint32_t>(static_cast<unsigned char>(text[i + 1])) << 8;
    if (n > 2) bits |= static_cast<unsigned char>(text[i + 2]);
    out.push_back(kBase64Alphabet[(bits >> 18) & 63]);
    out.push_back(kBase64Alphabet[(bits >> 12) & 63]);
    out.push_back(n > 1 ? kBase64Alphabet[(bits >> 6) & 63] : '=');
    out.push_back(n > 2 ? kBase64Alphabet[bits & 63] : '=');
  }
  return out;
}

ContentSize minimumContentSize(const ScreenRect& workarea, const Decoration& decoration) {
  return {std::max(kSmallestWindowWidth,
                   std::min(kMinWindowWidth, workarea.width - decoration.width())),
          std::max(kSmallestWindowHeight,
                   std::min(kMinWindowHeight, workarea.height - decoration.height()))};
}

ContentSize fitContentSize(ContentSize wanted, const ScreenRect& workarea,
                           const Decoration& decoration) {
  const ContentSize minimum = minimumContentSize(workarea, decoration);
  return {std::max(minimum.width, std::min(wanted.width, workarea.width - decoration.width())),
          std::max(minimum.height, std::min(wanted.height, workarea.height - decoration.height()))};
}

ScreenRect placeRestoredFrame(const WindowFrame& frame, const ScreenLayout& layout,
                              const Decoration& decoration) {
  ScreenRect rect;
  if (layout.workareas.empty()) {
    rect.width = toCoordinate(std::max(frame.width, double{kMinWindowWidth}));
    rect.height = toCoordinate(std::max(frame.height, double{kMinWindowHeight}));
  } else {
    // No larger than the largest work area holds, to begin with.
    ContentSize largest{kSmallestWindowWidth, kSmallestWindowHeight};
    for (const ScreenRect& area : layout.workareas) {
      const ContentSize fit = fitContentSize({INT_MAX, INT_MAX}, area, decoration);
      largest = {std::max(largest.width, fit.width), std::max(largest.height, fit.height)};
    }
    rect.width = toCoordinate(std::min(frame.width, static_cast<double>(largest.width)));
    rect.height = toCoordinate(std::min(frame.height, static_cast<double>(largest.height)));
  }
  rect.x = toCoordinate(frame.x);
  // The stored y is the bottom edge measured upwards from the bottom of the screen.
  rect.y = toCoordinate(static_cast<double>(layout.height) -
                        std::clamp(frame.y, -kCoordinateLimit, kCoordinateLimit) - rect.height);
  if (layout.workareas.empty()) return rect;

  const ScreenRect* target = nullptr;
  for (const ScreenRect& area : layout.workareas) {
    const int overlap =
        std::min(rect.x + rect.width, area.x + area.width) - std::max(rect.x, area.x);
    const bool stripInside =
        rect.y >= area.y && rect.y + kReachableStripHeight <= area.y + area.height;
    if (stripInside && overlap >= std::min(kReachableStripWidth, rect.width)) {
      target = &area;
      break;
    }
  }
  const ScreenRect& area = target ? *target : layout.workareas.front();
  const ContentSize fit = fitContentSize({rect.width, rect.height}, area, decoration);
  if (!target) {
    rect.width = fit.width;
    rect.height = fit.height;
    rect.x = area.x + decoration.left + (area.width - rect.width - decoration.width()) / 2;
    rect.y = area.y + decoration.top +
             std::max(0, (area.height - rect.height - decoration.height()) / 2);
    return rect;
  }
  // What does not fit fills the work area in that direction, from its edge.
  if (fit.width < frame.width) rect.x = area.x + decoration.left;
  if (fit.height < frame.height) rect.y = area.y + decoration.top;
  rect.width = fit.width;
  rect.height = fit.height;
  return rect;
}

WindowFrame frameFromScreen(const ScreenRect& rect, int screenHeight) {
  return WindowFrame{static_cast<double>(rect.x),
                     static_cast<double>(screenHeight) - rect.y - rect.height,
                     static_cast<double>(rect.width), static_cast<double>(rect.height)};
}

}  // namespace pilvo::host
