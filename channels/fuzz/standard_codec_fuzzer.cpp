// Feeds arbitrary bytes to every decoder of the standard codec. Whatever
// decodes must encode again, and that encoding must be stable.
#include <cstddef>
#include <cstdint>

#include "channels/standard_codec.h"

using namespace pilvo::channels;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const ByteView bytes(data, size);
  if (auto value = decodeMessage(bytes)) {
    const Bytes once = encodeMessage(*value.value);
    auto again = decodeMessage(once);
    if (!again || encodeMessage(*again.value) != once) __builtin_trap();
  }
  if (auto call = decodeMethodCall(bytes)) {
    const Bytes once = encodeMethodCall(*call.value);
    auto again = decodeMethodCall(once);
    if (!again || encodeMethodCall(*again.value) != once) __builtin_trap();
  }
  if (auto response = decodeMethodResponse(bytes)) {
    const Bytes once = encodeMethodResponse(*response.value);
    auto again = decodeMethodResponse(once);
    if (!again || encodeMethodResponse(*again.value) != once) __builtin_trap();
  }
  return 0;
}
