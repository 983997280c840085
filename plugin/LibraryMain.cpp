// Load and unload of the library, and the only two symbols it exports.

#include <memory>

#include <QApplication>
#include <QCoreApplication>

#include "contract/HostServices.h"
#include "plugin/PluginFrame.h"
#include "plugin/PluginWindows.h"

// Outside any namespace, as the resource initialiser requires.
static void InitPluginResources() { Q_INIT_RESOURCE(orvella_resources); }
static void CleanupPluginResources() { Q_CLEANUP_RESOURCE(orvella_resources); }

namespace {

// QApplication keeps references to these, so they live as long as the library.
int g_argc = 1;
char g_arg0[] = "orvella";
char* g_argv[] = {g_arg0, nullptr};

// Start-up and shut-down of the library: constructed while the host loads it, before
// any export is called; destroyed when the host unloads it (or at process exit).
class LibraryLifetime {
 public:
  LibraryLifetime() {
    InitPluginResources();
    orvella::ResetPluginFrame();
    if (!QCoreApplication::instance())
      ownApplication_ = std::make_unique<QApplication>(g_argc, g_argv);
    // A host running a console-only Qt application cannot show widgets; the plug-in
    // then negotiates as usual and DoPluginMain returns at once.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return;
    orvella::PluginContext context;
    context.Services = &orvella::PluginServices();
    context.Descriptor = &orvella::PluginDescriptor();
    windows_ = orvella::CreatePluginWindows(context);
    if (windows_) windows_->ReadSettings();
  }

  LibraryLifetime(const LibraryLifetime&) = delete;
  LibraryLifetime& operator=(const LibraryLifetime&) = delete;

  ~LibraryLifetime() {
    if (windows_ && !ownApplication_ && !QCoreApplication::instance()) {
      // The host's application object is already gone (the process is exiting with the
      // library still loaded); deleting widgets now would touch freed toolkit state.
      static_cast<void>(windows_.release());
    }
    windows_.reset();
    ownApplication_.reset();
    CleanupPluginResources();
  }

  orvella::PluginWindows* Windows() const { return windows_.get(); }

 private:
  std::unique_ptr<QApplication> ownApplication_;
  std::unique_ptr<orvella::PluginWindows> windows_;
};

LibraryLifetime g_library;

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void ORVELLA_STDCALL Initialize(std::uint32_t Request,
                                                                     void* Data,
                                                                     std::uint32_t* Value) {
  orvella::HandleInitialize(Request, Data, Value);
}

__attribute__((visibility("default"))) std::uint32_t ORVELLA_STDCALL
DoPluginMain(std::uint8_t* StopFlag) {
  return orvella::RunPluginMain(g_library.Windows(), StopFlag);
}

}  // extern "C"
