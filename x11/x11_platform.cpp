#include "x11/x11_platform.h"

namespace pilvo::x11 {

std::unique_ptr<X11Platform> X11Platform::open(EventLoop& loop, std::string* error,
                                               const std::string& displayName) {
  auto connection = XConnection::open(loop, displayName, error);
  if (!connection) return nullptr;
  std::unique_ptr<X11Platform> platform(new X11Platform());
  platform->index_ = std::make_unique<DesktopEntryIndex>(DesktopEntryIndex::fromEnvironment());
  platform->entryWatcher_ = std::make_unique<DesktopEntryWatcher>(*platform->index_, loop);
  platform->connection_ = std::move(connection);
  platform->desktop_ = std::make_unique<X11Desktop>(*platform->connection_, *platform->index_);
  platform->workspace_ = std::make_unique<X11Workspace>(*platform->desktop_);
  platform->idleness_ = std::make_unique<X11InputIdleness>(*platform->connection_);
  platform->accessibility_ = std::make_unique<X11Accessibility>(*platform->desktop_);

  if (!platform->idleness_->available()) {
    platform->warnings_.push_back(platform->idleness_->problem() + " (input never counts as idle)");
  }
  XConnection& c = *platform->connection_;
  if (!c.getProperty(c.root(), c.atom("_NET_SUPPORTING_WM_CHECK"))) {
    platform->warnings_.push_back(
        "no EWMH window manager is running; application switches are seen once one starts");
  }
  c.flush();
  return platform;
}

X11Platform::~X11Platform() {
  accessibility_.reset();
  idleness_.reset();
  workspace_.reset();
  desktop_.reset();
  connection_.reset();
  entryWatcher_.reset();
}

void X11Platform::setDisplayLostHandler(std::function<void()> handler) {
  connection_->setDisplayLostHandler(std::move(handler));
}

}  // namespace pilvo::x11
