#pragma once
// The stand-in host's service functions: thin adapters from the contract's functions to
// the virtual phone, writing into the memo and gauge the plug-in handed over and into
// the plug-in's status bar. The contract passes no context, so the adapters work on one
// host-wide state.

#include <cstdint>

#include "contract/HostServices.h"

class QPlainTextEdit;
class QProgressBar;

namespace orvella {

class VirtualPhone;

// The host-wide state the service functions use; the phone must outlive their calls.
void SetHostPhone(VirtualPhone* phone);
// The byte whose address the host hands to DoPluginMain; the services watch it.
std::uint8_t* HostStopFlag();
// The controls handed over by HostAttachLog and HostAttachGauge (null when gone).
QPlainTextEdit* HostMemo();
QProgressBar* HostGauge();
// Forgets the phone and the handed-over controls.
void ResetHostServices();

// The host's function for a service id, or null for an id this host does not know.
HostFunction HostFunctionFor(std::uint32_t id);

}  // namespace orvella
