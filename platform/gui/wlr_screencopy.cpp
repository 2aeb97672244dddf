#include "platform/gui/wlr_screencopy.h"

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cstring>
#include <vector>

namespace platform {

namespace {

// The protocol's two interfaces, as its XML describes them (the requests and
// events in their wire order); libwayland marshals from these tables.
extern const wl_interface kFrameInterface;

const wl_interface* kCaptureTypes[] = {&kFrameInterface, nullptr, &wl_output_interface};
const wl_interface* kRegionTypes[] = {&kFrameInterface, nullptr, &wl_output_interface, nullptr, nullptr,
                                      nullptr,          nullptr};
const wl_interface* kBufferTypes[] = {&wl_buffer_interface};
const wl_interface* kNoTypes[] = {nullptr, nullptr, nullptr, nullptr};

const wl_message kManagerRequests[] = {
    {"capture_output", "nio", kCaptureTypes},
    {"capture_output_region", "nioiiii", kRegionTypes},
    {"destroy", "", kNoTypes},
};
const wl_interface kManagerInterface = {"zwlr_screencopy_manager_v1", 3, 3, kManagerRequests, 0, nullptr};

const wl_message kFrameRequests[] = {
    {"copy", "o", kBufferTypes},
    {"destroy", "", kNoTypes},
    {"copy_with_damage", "2o", kBufferTypes},
};
const wl_message kFrameEvents[] = {
    {"buffer", "uuuu", kNoTypes},   {"flags", "u", kNoTypes},      {"ready", "uuu", kNoTypes},
    {"failed", "", kNoTypes},       {"damage", "2uuuu", kNoTypes}, {"linux_dmabuf", "3uuu", kNoTypes},
    {"buffer_done", "3", kNoTypes},
};
const wl_interface kFrameInterface = {"zwlr_screencopy_frame_v1", 3, 3, kFrameRequests, 7, kFrameEvents};

constexpr uint32_t kFormatArgb8888 = 0;
constexpr uint32_t kFormatXrgb8888 = 1;
constexpr uint32_t kFlagYInvert = 1;

struct Globals {
  wl_shm* shm = nullptr;
  wl_output* output = nullptr;
  wl_proxy* manager = nullptr;
  uint32_t managerVersion = 0;
};

void global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
  auto* globals = static_cast<Globals*>(data);
  if (std::strcmp(interface, wl_shm_interface.name) == 0 && globals->shm == nullptr) {
    globals->shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
  } else if (std::strcmp(interface, wl_output_interface.name) == 0 && globals->output == nullptr) {
    globals->output = static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, 1));
  } else if (std::strcmp(interface, kManagerInterface.name) == 0 && globals->manager == nullptr) {
    globals->managerVersion = std::min<uint32_t>(version, 3);
    globals->manager =
        static_cast<wl_proxy*>(wl_registry_bind(registry, name, &kManagerInterface, globals->managerVersion));
  }
}

void globalRemoved(void*, wl_registry*, uint32_t) {}

const wl_registry_listener kRegistryListener = {global, globalRemoved};

// What one capture hears from the compositor.
struct Capture {
  uint32_t format = 0, width = 0, height = 0, stride = 0;
  bool haveShm = false;
  bool buffersListed = false;  // buffer_done (version 3) or the buffer event itself before
  uint32_t flags = 0;
  bool ready = false;
  bool failed = false;
};

void onBuffer(void* data, wl_proxy*, uint32_t format, uint32_t width, uint32_t height, uint32_t stride) {
  auto* capture = static_cast<Capture*>(data);
  if (format != kFormatXrgb8888 && format != kFormatArgb8888) return;
  *capture = {format, width, height, stride, true, capture->buffersListed, 0, false, false};
}
void onFlags(void* data, wl_proxy*, uint32_t flags) { static_cast<Capture*>(data)->flags = flags; }
void onReady(void* data, wl_proxy*, uint32_t, uint32_t, uint32_t) {
  static_cast<Capture*>(data)->ready = true;
}
void onFailed(void* data, wl_proxy*) { static_cast<Capture*>(data)->failed = true; }
void onDamage(void*, wl_proxy*, uint32_t, uint32_t, uint32_t, uint32_t) {}
void onDmabuf(void*, wl_proxy*, uint32_t, uint32_t, uint32_t) {}
void onBufferDone(void* data, wl_proxy*) { static_cast<Capture*>(data)->buffersListed = true; }

struct FrameListener {
  void (*buffer)(void*, wl_proxy*, uint32_t, uint32_t, uint32_t, uint32_t);
  void (*flags)(void*, wl_proxy*, uint32_t);
  void (*ready)(void*, wl_proxy*, uint32_t, uint32_t, uint32_t);
  void (*failed)(void*, wl_proxy*);
  void (*damage)(void*, wl_proxy*, uint32_t, uint32_t, uint32_t, uint32_t);
  void (*dmabuf)(void*, wl_proxy*, uint32_t, uint32_t, uint32_t);
  void (*bufferDone)(void*, wl_proxy*);
};
const FrameListener kFrameListener = {onBuffer, onFlags, onReady, onFailed, onDamage, onDmabuf, onBufferDone};

// Shared memory the compositor copies into; unmapped with its last user.
struct Mapping {
  void* address = MAP_FAILED;
  size_t size = 0;
  ~Mapping() {
    if (address != MAP_FAILED) munmap(address, size);
  }
};

// Reads and handles what the compositor sent, waiting at most `ms` for it;
// false when it sends nothing in that time or the connection broke, so that
// a compositor that never answers cannot hold up the encoder for good.
bool dispatchWithin(wl_display* display, int ms) {
  while (wl_display_prepare_read(display) != 0) {
    if (wl_display_dispatch_pending(display) < 0) return false;
  }
  wl_display_flush(display);
  pollfd watched{wl_display_get_fd(display), POLLIN, 0};
  if (poll(&watched, 1, ms) <= 0) {
    wl_display_cancel_read(display);
    return false;
  }
  return wl_display_read_events(display) >= 0 && wl_display_dispatch_pending(display) >= 0;
}

constexpr int kAnswerMs = 10000;

}  // namespace

struct WlrScreencopy::State {
  wl_display* display = nullptr;
  wl_registry* registry = nullptr;
  Globals globals;

  ~State() { disconnect(); }

  void disconnect() {
    if (display == nullptr) return;
    if (globals.manager != nullptr) {
      wl_proxy_marshal(globals.manager, 2);  // destroy
      wl_proxy_destroy(globals.manager);
    }
    if (globals.output != nullptr) wl_output_destroy(globals.output);
    if (globals.shm != nullptr) wl_shm_destroy(globals.shm);
    if (registry != nullptr) wl_registry_destroy(registry);
    wl_display_disconnect(display);
    display = nullptr;
    registry = nullptr;
    globals = {};
  }

  bool connect(std::string& why) {
    if (display != nullptr) return true;
    display = wl_display_connect(nullptr);
    if (display == nullptr) {
      why = "no Wayland display to connect to";
      return false;
    }
    registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, &globals);
    if (wl_display_roundtrip(display) < 0 || globals.manager == nullptr || globals.shm == nullptr ||
        globals.output == nullptr) {
      why = globals.manager == nullptr ? "the compositor offers no screencopy"
                                       : "the compositor lists no output";
      disconnect();
      return false;
    }
    return true;
  }
};

WlrScreencopy::WlrScreencopy() : state_(std::make_unique<State>()) {}
WlrScreencopy::~WlrScreencopy() = default;

bool WlrScreencopy::offered() {
  State probe;
  std::string why;
  return probe.connect(why);
}

bool WlrScreencopy::grab(ScreenFrame& frame, std::string& why) {
  State& s = *state_;
  if (!s.connect(why)) return false;
  Capture capture;
  auto* request =
      wl_proxy_marshal_constructor(s.globals.manager, 0, &kFrameInterface, nullptr, 0, s.globals.output);
  wl_proxy_add_listener(
      request, reinterpret_cast<void (**)(void)>(const_cast<FrameListener*>(&kFrameListener)), &capture);
  const auto endFrame = [&] {
    wl_proxy_marshal(request, 1);  // destroy
    wl_proxy_destroy(request);
  };
  // Version 3 lists every buffer kind, then buffer_done; before, the shm
  // buffer event alone.
  while (!capture.failed && !(s.globals.managerVersion >= 3 ? capture.buffersListed : capture.haveShm)) {
    if (!dispatchWithin(s.display, kAnswerMs)) {
      why = "the compositor did not answer";
      endFrame();
      s.disconnect();
      return false;
    }
  }
  if (capture.failed || !capture.haveShm || capture.stride < capture.width * 4) {
    why = "the compositor offers no usable shared-memory picture";
    endFrame();
    return false;
  }
  auto mapping = std::make_shared<Mapping>();
  mapping->size = static_cast<size_t>(capture.stride) * capture.height;
  const int fd = memfd_create("edu-client-screen", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, static_cast<off_t>(mapping->size)) != 0) {
    if (fd >= 0) close(fd);
    why = "no shared memory for the picture";
    endFrame();
    return false;
  }
  mapping->address = mmap(nullptr, mapping->size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (mapping->address == MAP_FAILED) {
    close(fd);
    why = "no shared memory for the picture";
    endFrame();
    return false;
  }
  wl_shm_pool* pool = wl_shm_create_pool(s.globals.shm, fd, static_cast<int32_t>(mapping->size));
  close(fd);
  wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, static_cast<int32_t>(capture.width),
                                                static_cast<int32_t>(capture.height),
                                                static_cast<int32_t>(capture.stride), capture.format);
  wl_shm_pool_destroy(pool);
  wl_proxy_marshal(request, 0, buffer);  // copy
  while (!capture.ready && !capture.failed) {
    if (!dispatchWithin(s.display, kAnswerMs)) {
      capture.failed = true;
      s.disconnect();
      break;
    }
  }
  if (s.display != nullptr) {
    wl_buffer_destroy(buffer);
    endFrame();
  }
  if (!capture.ready) {
    why = "the compositor could not copy the screen";
    return false;
  }

  // Rows without padding and top row first, as the encoder reads them.
  const size_t row = static_cast<size_t>(capture.width) * 4;
  const bool flipped = (capture.flags & kFlagYInvert) != 0;
  std::shared_ptr<const void> owner = mapping;
  const auto* base = static_cast<const unsigned char*>(mapping->address);
  if (flipped || capture.stride != row) {
    auto rows = std::make_shared<std::vector<unsigned char>>(row * capture.height);
    for (uint32_t y = 0; y < capture.height; ++y) {
      const uint32_t from = flipped ? capture.height - 1 - y : y;
      std::memcpy(rows->data() + y * row, base + static_cast<size_t>(from) * capture.stride, row);
    }
    base = rows->data();
    owner = rows;
  }
  frame =
      ScreenFrame(static_cast<int>(capture.width), static_cast<int>(capture.height), PixelLayout::Bgrx, base);
  frame.owner = std::move(owner);
  return true;
}

}  // namespace platform
