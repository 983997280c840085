#pragma once
// The contract between the plug-in and its host: service ids, function types, and the
// records that cross the boundary. Header only; the host includes it without the rest of
// the plug-in. On 32-bit x86 Windows the functions are stdcall and the records have the
// sizes pinned below; elsewhere pointers have the platform's width.

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && defined(__i386__)
#define ORVELLA_STDCALL __attribute__((stdcall))
#else
#define ORVELLA_STDCALL
#endif

namespace orvella {

// Service ids the plug-in asks for, in the order it asks (positions 0 to 13).
inline constexpr std::uint32_t kServiceIds[14] = {21, 26, 20, 24, 25, 18, 27,
                                                  16, 1,  0,  2,  6,  11, 3};
inline constexpr std::uint32_t kServiceCount = 14;

enum ServiceId : std::uint32_t {
  HostConnectId = 0,
  HostGetWorkAreaId = 6,
  HostIdentifyFlashId = 16,
  HostAttachLogId = 18,
  HostEndSessionId = 20,
  HostReadRangeId = 24,
  HostWriteRangeId = 25,
  HostEraseRangeId = 26,
  HostAttachGaugeId = 27,
};

// Answers of Initialize.
inline constexpr std::uint32_t kAnswerAccepted = 0x80000000u;
inline constexpr std::uint32_t kAnswerRefused = 0x8FFFFFFFu;
inline constexpr std::uint32_t kDoPluginMainResult = 0x8FFFFFFFu;

// Sets one status-bar panel (0 to 2) to a zero-terminated UTF-16 text.
using StatusTextCallback = void(ORVELLA_STDCALL*)(std::uint32_t ignored, std::int32_t panel,
                                                  const char16_t* text);

// Plug-in descriptor: 76 bytes on 32-bit x86; with 64-bit pointers its three pointers
// widen and the record is 88 bytes on x86-64. Request 2 copies the whole record and
// answers its size, kDescriptorAnswer, so a host supplies (at least) that many bytes.
struct TPluginDescriptor {
  const char* Title;               // +0  "Samsung i9000-like FullFlash Image Files Processing Tool"
  const char* Platform;            // +4  "QUALCOMM"
  std::uint32_t Reserved8;         // +8  0
  std::uint16_t Fixed1234;         // +12 0x1234
  std::uint16_t FixedFFFF;         // +14 0xFFFF
  std::uint8_t Reserved16[32];     // +16 0
  const void* ResourceData;        // +48 data of "REVIVOR_00"/"ENC" when present
  std::uint32_t ResourceSize;      // +52 its size, 0 when absent
  std::uint8_t Reserved56[20];     // +56 0
};

// The answer of request 2: the bytes it copies into the host's buffer (76 on 32-bit x86,
// 88 on x86-64); 0 when the host gave no buffer.
inline constexpr std::uint32_t kDescriptorAnswer = sizeof(TPluginDescriptor);

// Requests of Initialize.
enum InitializeRequest : std::uint32_t {
  kRequestServiceId = 0,     // *Value := id at the service position
  kRequestHandOver = 1,      // Data: host function, *Value: its position
  kRequestDescriptor = 2,    // Data: descriptor buffer of kDescriptorAnswer bytes
  kRequestVersion = 3,       // Data: buffer, *Value: its size; answer 0 when copied
  kRequestSchematics = 4,    // "SCHEMATICS_00"/"PLN"; answer <= offer when copied
  kRequestInformation = 5,   // "INFORMATION_00"/"PLN"; as request 4
  kRequestRestart = 255,     // service position := 0, *Value := kServiceCount
};
// A null Data is never answered as filled: request 2 answers 0, request 3 its "too small"
// 11, requests 4 and 5 the size when it exceeds the offer, else 0 (nothing handed over).

// Version text: length byte 11, then "&SF126_1.01".
inline constexpr std::uint32_t kVersionTextLength = 11;
inline constexpr std::uint32_t kVersionTextBytes = 12;

// The two exports as a host looks them up.
using InitializeFn = void(ORVELLA_STDCALL*)(std::uint32_t request, void* data,
                                            std::uint32_t* value);
using DoPluginMainFn = std::uint32_t(ORVELLA_STDCALL*)(std::uint8_t* stopFlag);
inline constexpr const char* kInitializeSymbol = "Initialize";
inline constexpr const char* kDoPluginMainSymbol = "DoPluginMain";

// Flash-info block filled by HostIdentifyFlash: six unsigned 32-bit fields.
struct TFlashInfo {
  std::uint32_t Field0;
  std::uint32_t Field1;
  std::uint32_t ChipSizeMiB;     // third field
  std::uint32_t EraseBlockSize;  // fourth field, bytes
  std::uint32_t PageSize;        // fifth field, bytes; 0 = chip not recognised
  std::uint32_t Field5;
};

// The single argument of HostWriteRange, passed by value (152 bytes on 32-bit x86).
struct TWriteRequestBlock {
  std::uint32_t One0;                 // +0   1
  std::uint32_t Addr;                 // +4   device address of the main data
  std::uint32_t Leng;                 // +8   main data length
  std::uint8_t Descriptor[76];        // +12  copy of the descriptor's first 76 bytes
  std::uint8_t One88;                 // +88  1
  const char16_t* ImagePath;          // +92  CurrentImageFile, UTF-16, zero-terminated
  const void* MData;                  // +96  main data in memory (the plug-in passes null)
  std::uint8_t Zero100;               // +100 0
  const char16_t* EmptyText;          // +104 ""
  const void* PData;                  // +108 spare data in memory (null)
  std::uint8_t AlreadyConnected;      // +112 1 when an earlier write of the run connected
  std::uint8_t Zero113;               // +113 0
  std::uint8_t Zero114;               // +114 0
  std::uint8_t One115;                // +115 1
  std::uint8_t One116;                // +116 1
  std::uint8_t EnableEcc;             // +117 1 when "Enable ECC when Flashing" is checked
  const char16_t* Tag;                // +120 u"tGL0"
  void* Gauge;                        // +124 the progress gauge control
  std::uint8_t One128;                // +128 1
  StatusTextCallback StatusText;      // +132
  std::int32_t Left;                  // +136 main window geometry at the call
  std::int32_t Width;                 // +140
  std::int32_t Height;                // +144
  std::int32_t Top;                   // +148
};

#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(TPluginDescriptor) == 76);
static_assert(offsetof(TPluginDescriptor, ResourceData) == 48);
static_assert(offsetof(TPluginDescriptor, ResourceSize) == 52);
static_assert(sizeof(TFlashInfo) == 24);
static_assert(sizeof(TWriteRequestBlock) == 152);
static_assert(offsetof(TWriteRequestBlock, ImagePath) == 92);
static_assert(offsetof(TWriteRequestBlock, AlreadyConnected) == 112);
static_assert(offsetof(TWriteRequestBlock, EnableEcc) == 117);
static_assert(offsetof(TWriteRequestBlock, Tag) == 120);
static_assert(offsetof(TWriteRequestBlock, StatusText) == 132);
static_assert(offsetof(TWriteRequestBlock, Top) == 148);
#endif
#if defined(__x86_64__) || defined(_M_X64)
static_assert(sizeof(TPluginDescriptor) == 88);
#endif
static_assert(sizeof(TFlashInfo) == 24);

// Host functions, one per service id. A result's low byte non-zero means success.
using HostGetWorkAreaFn = std::uint32_t(ORVELLA_STDCALL*)(std::int32_t* width, std::int32_t* height,
                                                          std::int32_t* left, std::int32_t* top);
using HostAttachLogFn = std::uint32_t(ORVELLA_STDCALL*)(void* memo);    // QPlainTextEdit*
using HostAttachGaugeFn = std::uint32_t(ORVELLA_STDCALL*)(void* gauge); // QProgressBar*
using HostConnectFn = std::uint32_t(ORVELLA_STDCALL*)(const TPluginDescriptor* descriptor);
using HostIdentifyFlashFn = std::uint32_t(ORVELLA_STDCALL*)(std::uint32_t one, TFlashInfo* info);
using HostReadRangeFn = std::uint32_t(ORVELLA_STDCALL*)(
    std::uint32_t one, std::uint32_t address, std::uint32_t length, std::uint32_t zero1,
    std::uint32_t zero2, const char* tag, std::uint8_t* buffer, std::int32_t marker, void* gauge,
    std::uint32_t toFile, StatusTextCallback status, std::int32_t left, std::int32_t width,
    std::int32_t height, std::int32_t top);
using HostWriteRangeFn = std::uint32_t(ORVELLA_STDCALL*)(TWriteRequestBlock block);
using HostEraseRangeFn = std::uint32_t(ORVELLA_STDCALL*)(
    std::uint32_t one, std::uint32_t address, std::uint32_t length, std::uint32_t zero1,
    std::uint32_t zero2, std::uint32_t one2, StatusTextCallback status, std::int32_t left,
    std::int32_t width, std::int32_t height, std::int32_t top);
using HostEndSessionFn = std::uint32_t(ORVELLA_STDCALL*)();

// Ids 1, 2, 3, 11 and 21: handed over, kept, never called.
using HostUnusedFn = std::uint32_t(ORVELLA_STDCALL*)();

// Untyped cell as handed over through Initialize.
using HostFunction = void*;

// True when a host result reports success: only its low byte counts.
constexpr bool HostSucceeded(std::uint32_t result) { return (result & 0xFFu) != 0; }

// Position of a service id in kServiceIds, or kServiceCount when it is not asked for.
constexpr std::uint32_t ServicePosition(std::uint32_t id) {
  for (std::uint32_t i = 0; i < kServiceCount; ++i)
    if (kServiceIds[i] == id) return i;
  return kServiceCount;
}

// The services the plug-in calls, typed, taken from the cells of a negotiation. Every
// call goes through here: a service the host never handed over is not called and the
// call answers 0, a failed call, so commands end through their failure path.
struct HostServiceTable {
  HostGetWorkAreaFn GetWorkAreaFn = nullptr;
  HostAttachLogFn AttachLogFn = nullptr;
  HostAttachGaugeFn AttachGaugeFn = nullptr;
  HostConnectFn ConnectFn = nullptr;
  HostIdentifyFlashFn IdentifyFlashFn = nullptr;
  HostReadRangeFn ReadRangeFn = nullptr;
  HostWriteRangeFn WriteRangeFn = nullptr;
  HostEraseRangeFn EraseRangeFn = nullptr;
  HostEndSessionFn EndSessionFn = nullptr;

  // Cells indexed by position, as Initialize stores them.
  static HostServiceTable FromCells(const HostFunction (&cells)[kServiceCount]) {
    HostServiceTable t;
    t.GetWorkAreaFn = Cell<HostGetWorkAreaFn>(cells, HostGetWorkAreaId);
    t.AttachLogFn = Cell<HostAttachLogFn>(cells, HostAttachLogId);
    t.AttachGaugeFn = Cell<HostAttachGaugeFn>(cells, HostAttachGaugeId);
    t.ConnectFn = Cell<HostConnectFn>(cells, HostConnectId);
    t.IdentifyFlashFn = Cell<HostIdentifyFlashFn>(cells, HostIdentifyFlashId);
    t.ReadRangeFn = Cell<HostReadRangeFn>(cells, HostReadRangeId);
    t.WriteRangeFn = Cell<HostWriteRangeFn>(cells, HostWriteRangeId);
    t.EraseRangeFn = Cell<HostEraseRangeFn>(cells, HostEraseRangeId);
    t.EndSessionFn = Cell<HostEndSessionFn>(cells, HostEndSessionId);
    return t;
  }

  std::uint32_t GetWorkArea(std::int32_t* width, std::int32_t* height, std::int32_t* left,
                            std::int32_t* top) const {
    return GetWorkAreaFn ? GetWorkAreaFn(width, height, left, top) : 0;
  }
  std::uint32_t AttachLog(void* memo) const { return AttachLogFn ? AttachLogFn(memo) : 0; }
  std::uint32_t AttachGauge(void* gauge) const {
    return AttachGaugeFn ? AttachGaugeFn(gauge) : 0;
  }
  std::uint32_t Connect(const TPluginDescriptor* descriptor) const {
    return ConnectFn ? ConnectFn(descriptor) : 0;
  }
  std::uint32_t IdentifyFlash(std::uint32_t one, TFlashInfo* info) const {
    return IdentifyFlashFn ? IdentifyFlashFn(one, info) : 0;
  }
  std::uint32_t ReadRange(std::uint32_t one, std::uint32_t address, std::uint32_t length,
                          std::uint32_t zero1, std::uint32_t zero2, const char* tag,
                          std::uint8_t* buffer, std::int32_t marker, void* gauge,
                          std::uint32_t toFile, StatusTextCallback status, std::int32_t left,
                          std::int32_t width, std::int32_t height, std::int32_t top) const {
    return ReadRangeFn ? ReadRangeFn(one, address, length, zero1, zero2, tag, buffer, marker,
                                     gauge, toFile, status, left, width, height, top)
                       : 0;
  }
  std::uint32_t WriteRange(const TWriteRequestBlock& block) const {
    return WriteRangeFn ? WriteRangeFn(block) : 0;
  }
  std::uint32_t EraseRange(std::uint32_t one, std::uint32_t address, std::uint32_t length,
                           std::uint32_t zero1, std::uint32_t zero2, std::uint32_t one2,
                           StatusTextCallback status, std::int32_t left, std::int32_t width,
                           std::int32_t height, std::int32_t top) const {
    return EraseRangeFn ? EraseRangeFn(one, address, length, zero1, zero2, one2, status, left,
                                       width, height, top)
                        : 0;
  }
  std::uint32_t EndSession() const { return EndSessionFn ? EndSessionFn() : 0; }

 private:
  template <typename Fn>
  static Fn Cell(const HostFunction (&cells)[kServiceCount], std::uint32_t id) {
    return reinterpret_cast<Fn>(cells[ServicePosition(id)]);
  }
};

// Host data files in the work folder.
inline constexpr const char* kTempImageName = "$tGL0Image.$$$";
inline constexpr const char* kHostMainFileName = "$tGL0Main$.$$$";
inline constexpr const char* kHostSpareFileName = "$tGL0Redu$.$$$";
inline constexpr const char* kHostReadFileName = "$tGL0Read$.$$$";
inline constexpr const char* kTransferTag = "tGL0";

}  // namespace orvella
