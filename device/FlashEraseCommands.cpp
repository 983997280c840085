#include <algorithm>
#include <cstring>

#include "device/DeviceCommands.h"
#include "device/RowSelection.h"
#include "device/Utf16Text.h"

namespace orvella {

bool DeviceCommands::WriteCurrentMemoryChunk(std::uint32_t Addr, std::uint32_t Leng,
                                             const void* mData, const void* pData,
                                             bool AlreadyConnected) {
  static constexpr char16_t kEmptyText[] = u"";
  static constexpr char16_t kTagText[] = u"tGL0";
  // The block carries the path's address: it must live until HostWriteRange returns.
  const std::u16string imagePath = Utf16FromUtf8(window_.Model().CurrentImageFile);
  const WindowGeometry g = window_.Geometry();

  TWriteRequestBlock b{};
  b.One0 = 1;
  b.Addr = Addr;
  b.Leng = Leng;
  if (host_.descriptor)
    std::memcpy(b.Descriptor, host_.descriptor,
                std::min(sizeof b.Descriptor, sizeof(TPluginDescriptor)));
  b.One88 = 1;
  b.ImagePath = imagePath.c_str();
  b.MData = mData;
  b.Zero100 = 0;
  b.EmptyText = kEmptyText;
  b.PData = pData;
  b.AlreadyConnected = AlreadyConnected ? 1 : 0;
  b.Zero113 = 0;
  b.Zero114 = 0;
  b.One115 = 1;
  b.One116 = 1;
  b.EnableEcc = window_.EccEnabled() ? 1 : 0;
  b.Tag = kTagText;
  b.Gauge = window_.GaugeControl();
  b.One128 = 1;
  b.StatusText = host_.statusText;
  b.Left = g.Left;
  b.Width = g.Width;
  b.Height = g.Height;
  b.Top = g.Top;
  return host_.writeRange && HostSucceeded(host_.writeRange(b));
}

void DeviceCommands::FlasPartitionsCommand() {
  window_.LogClear();
  if (RefusedUnaddressableRow()) return;
  bool connected = false;
  window_.GaugeSetPos(0);
  window_.GaugeSetMax(0);

  ImageModel& m = window_.Model();
  const bool done = ForEachTargetRow(window_, MainAndSpareBytes, [&](std::size_t k) {
    const PartitionRange r = m.RangeOf(k);
    if (!WriteCurrentMemoryChunk(r.MainOffset, r.MainLength, nullptr, nullptr, connected))
      return false;
    connected = true;  // later writes of this run reuse the session
    return true;
  });
  EndCommand(done);
}

void DeviceCommands::ErasPartitionsCommand() {
  window_.LogClear();
  if (RefusedUnaddressableRow() || !SessionPrologue()) return;
  window_.LogAdd("");
  const WindowGeometry g = window_.Geometry();
  window_.GaugeSetPos(0);
  window_.GaugeSetMax(0);

  ImageModel& m = window_.Model();
  // Unlike read and flash, the cursor row's gauge maximum has no spare share.
  const auto mainOnly = [](std::uint32_t mainLength) { return mainLength; };
  const bool done = ForEachTargetRow(window_, mainOnly, [&](std::size_t k) {
    const PartitionRange r = m.RangeOf(k);
    return HostEraseRange(r.MainOffset, r.MainLength, g);
  });
  EndCommand(done);
}

}  // namespace orvella
