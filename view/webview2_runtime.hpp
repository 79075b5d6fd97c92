#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace velkaphon::rack {

// The oldest runtime that offers every interface the view uses: ICoreWebView2_3 (the virtual
// host mapping) came with SDK 1.0.774.44, which needs runtime 89.0.774.44.
inline constexpr std::array<unsigned, 4> kMinimumWebView2Version{89, 0, 774, 44};

// The Evergreen runtime's stable channel, as its updater records it.
inline constexpr std::u16string_view kWebView2ClientStateKey =
    u"SOFTWARE\\Microsoft\\EdgeUpdate\\ClientState\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
inline constexpr std::u16string_view kWebView2ClientsKey =
    u"SOFTWARE\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
inline constexpr std::u16string_view kWebView2FolderValue = u"EBWebView";
inline constexpr std::u16string_view kWebView2VersionValue = u"pv";
inline constexpr std::u16string_view kWebView2FolderVariable =
    u"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER";

inline constexpr const char* kLoaderLibraryName = "WebView2Loader.dll";
inline constexpr const char* kLoaderExport = "CreateCoreWebView2EnvironmentWithOptions";
inline constexpr const char* kRuntimeExport = "CreateWebViewEnvironmentWithOptionsInternal";

enum class RegistryRoot { localMachine, currentUser };

// How the found entry point is called.
enum class WebView2EntryKind { loader, runtime };

// The runtime's own notion of where it came from, its entry point's second argument.
inline constexpr int kRuntimeInstalled = 0;
inline constexpr int kRuntimeInFolder = 1;

struct WebView2Entry {
    WebView2EntryKind kind;
    void* function;
    int runtimeType;
    std::filesystem::path library;
};

// What the lookup needs of the machine; Windows answers from its registry and loader, tests
// from fakes. Every operation is [control].
class WebView2System {
public:
    // The folder of the module that holds this code (the program or the plug-in DLL).
    virtual std::filesystem::path moduleFolder() = 0;
    virtual std::optional<std::u16string> environmentText(std::u16string_view name) = 0;
    // A string value read through the 32-bit view of the registry.
    virtual std::optional<std::u16string> registryText(RegistryRoot root, std::u16string_view key,
                                                       std::u16string_view value) = 0;
    // Loads the library by its full path and answers the export, or null; a library without
    // the export is unloaded again.
    virtual void* libraryExport(const std::filesystem::path& library, const char* name) = 0;

protected:
    ~WebView2System() = default;
};

// [any] The machine's own answers; Windows only.
WebView2System& windowsWebView2System();

// [control] The entry point that creates the WebView2 environment, in the order the SDK's own
// loader looks: a loader beside our module, the folder the documented variable names, then the
// installed Evergreen runtime per machine and per user. Nothing when no usable runtime is found.
std::optional<WebView2Entry> findWebView2(WebView2System& system);

// [any] "a.b.c.d" as four numbers; nothing for any other text.
std::optional<std::array<unsigned, 4>> parseWebView2Version(std::u16string_view text);

} // namespace velkaphon::rack
