#include "menubar/tray_icon.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cmath>
#include <cstring>

#include "menubar/paw_print_svg.h"

namespace pilvo::menubar {

uint32_t trayIconColour(const std::optional<TrayTint>& tint) {
  if (!tint) return 0x9A9A9A;  // plain: readable on light and dark panels
  switch (*tint) {
    case TrayTint::kGreen:
      return 0x34C759;
    case TrayTint::kOrange:
      return 0xFF9500;
    case TrayTint::kRed:
      return 0xFF3B30;
  }
  return 0x9A9A9A;
}

TrayIconImage renderTrayIcon(int size, const TrayIconLook& look) {
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("svg", nullptr);
  if (!loader) return {};
  gdk_pixbuf_loader_set_size(loader, size, size);
  const auto* bytes = reinterpret_cast<const guchar*>(kPawPrintSvg);
  const bool written = gdk_pixbuf_loader_write(loader, bytes, std::strlen(kPawPrintSvg), nullptr);
  const bool closed = gdk_pixbuf_loader_close(loader, nullptr);
  GdkPixbuf* pixbuf = written && closed ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
  TrayIconImage image;
  if (pixbuf && gdk_pixbuf_get_has_alpha(pixbuf) && gdk_pixbuf_get_n_channels(pixbuf) == 4 &&
      gdk_pixbuf_get_width(pixbuf) == size && gdk_pixbuf_get_height(pixbuf) == size) {
    const uint32_t colour = trayIconColour(look.tint);
    const double opacity = look.dimmed ? kDimmedOpacity : 1.0;
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    const guchar* pixels = gdk_pixbuf_read_pixels(pixbuf);
    image.size = size;
    image.rgba.resize(static_cast<size_t>(size) * size * 4);
    for (int y = 0; y < size; ++y) {
      for (int x = 0; x < size; ++x) {
        // The shape is the SVG's coverage; the colour is the look's.
        const guchar alpha = pixels[y * stride + x * 4 + 3];
        uint8_t* out = &image.rgba[(static_cast<size_t>(y) * size + x) * 4];
        out[0] = static_cast<uint8_t>(colour >> 16);
        out[1] = static_cast<uint8_t>(colour >> 8);
        out[2] = static_cast<uint8_t>(colour);
        out[3] = static_cast<uint8_t>(std::lround(alpha * opacity));
      }
    }
  }
  g_object_unref(loader);
  return image;
}

std::vector<uint8_t> toNetworkArgb(const TrayIconImage& image) {
  std::vector<uint8_t> argb(image.rgba.size());
  for (size_t i = 0; i + 3 < image.rgba.size(); i += 4) {
    argb[i] = image.rgba[i + 3];
    argb[i + 1] = image.rgba[i];
    argb[i + 2] = image.rgba[i + 1];
    argb[i + 3] = image.rgba[i + 2];
  }
  return argb;
}

}  // namespace pilvo::menubar
