// Feeds arbitrary bytes, in pieces, to the bridge's frame reader, as a client
// on the socket could. Frames that come out must encode back to what went in.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "channels/bridge_frame.h"

using namespace pilvo::channels;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t piece = 1 + data[0] % 64;  // how the stream is cut into reads
  const ByteView stream(data + 1, size - 1);
  FrameReader reader(4096);
  size_t consumed = 0;
  for (size_t at = 0; at < stream.size(); at += piece) {
    if (!reader.feed(stream.subspan(at, std::min(piece, stream.size() - at)))) break;
    while (auto frame = reader.next()) {
      const Bytes encoded = encodeFrame(*frame);
      if (encoded.size() > stream.size() - consumed ||
          !std::equal(encoded.begin(), encoded.end(), stream.begin() + consumed)) {
        __builtin_trap();
      }
      consumed += encoded.size();
      if (frame->kind == FrameKind::kMessage) (void)decodeMethodCall(frame->payload);
    }
  }
  if (reader.buffered() > 4096 + kFrameHeaderBytes + 64) __builtin_trap();
  return 0;
}
