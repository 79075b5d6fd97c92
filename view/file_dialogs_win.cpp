#include "engine/utf8_text.hpp"
#include "view/file_dialogs.hpp"

#include <shobjidl.h>
#include <stdexcept>
#include <string>
#include <vector>
#include <windows.h>

namespace velkaphon::rack {

namespace {

constexpr HRESULT kUserCancelled = static_cast<HRESULT>(0x800704C7);
constexpr FILEOPENDIALOGOPTIONS kOptionsRemoved = 0x280;
constexpr DWORD kEnvironmentBufferUnits = 32'768;

struct DialogKind {
    bool save;
    FILEOPENDIALOGOPTIONS added;
    FILEOPENDIALOGOPTIONS removed;
    const wchar_t* title;
};

DialogKind dialogKind(BrowseKind kind) {
    switch (kind) {
    case BrowseKind::AudioFile:
        return {false, 0x184C, 0, L"Choose WAV audio to process"};
    case BrowseKind::RecordingDestination:
        return {true, 0x84C, FOS_OVERWRITEPROMPT, L"Choose a new WAV recording destination"};
    case BrowseKind::PluginFile:
        return {false, 0x184C, 0, L"Choose a Windows x64 VST3 or CLAP plugin file"};
    case BrowseKind::PluginBundleFolder:
        return {false, 0x868, 0, L"Choose a complete Windows x64 .vst3 bundle folder"};
    case BrowseKind::Folder:
        return {false, 0x868, 0, L"Choose a folder"};
    case BrowseKind::OpenProject:
        return {false, 0x184C, 0, L"Open VELKAPHON RACK project"};
    case BrowseKind::SaveProject:
        return {true, 0x84E, 0, L"Save VELKAPHON RACK project"};
    }
    throw std::runtime_error("Unknown file browser kind.");
}

template <typename Interface>
class ComReference {
public:
    ComReference() = default;
    ComReference(const ComReference&) = delete;
    ComReference& operator=(const ComReference&) = delete;
    ~ComReference() {
        if (pointer_ != nullptr) {
            pointer_->Release();
        }
    }
    Interface** out() { return &pointer_; }
    Interface* operator->() const { return pointer_; }
    Interface* get() const { return pointer_; }

private:
    Interface* pointer_ = nullptr;
};

// The focus goes back to the window that had it, however the call ends.
class FocusRestorer {
public:
    FocusRestorer() : focus_(GetFocus()) {}
    FocusRestorer(const FocusRestorer&) = delete;
    FocusRestorer& operator=(const FocusRestorer&) = delete;
    ~FocusRestorer() {
        if (focus_ != nullptr && IsWindow(focus_)) {
            SetFocus(focus_);
        }
    }

private:
    HWND focus_;
};

class ApartmentLeaver {
public:
    ApartmentLeaver() = default;
    ApartmentLeaver(const ApartmentLeaver&) = delete;
    ApartmentLeaver& operator=(const ApartmentLeaver&) = delete;
    ~ApartmentLeaver() { CoUninitialize(); }
};

std::string narrowUtf16(const wchar_t* text, int units) {
    if (units == 0) {
        return {};
    }
    const int bytes = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, units, nullptr, 0,
                                          nullptr, nullptr);
    if (bytes == 0) {
        throw std::runtime_error("The selected file path could not be read.");
    }
    std::string result(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, units, result.data(), bytes, nullptr,
                        nullptr);
    return result;
}

std::string narrowUtf16(const std::wstring& text) {
    return narrowUtf16(text.data(), static_cast<int>(text.size()));
}

void throwIfFailed(HRESULT code, const char* context) {
    if (SUCCEEDED(code)) {
        return;
    }
    wchar_t* message = nullptr;
    const DWORD units = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    std::string detail;
    if (units > 0 && message != nullptr) {
        try {
            detail = narrowUtf16(message, static_cast<int>(units));
        } catch (const std::runtime_error&) {
            detail.clear();
        }
    }
    if (message != nullptr) {
        LocalFree(message);
    }
    if (detail.empty()) {
        detail = "Windows error " + std::to_string(static_cast<std::uint32_t>(code));
    }
    throw std::runtime_error(std::string(context) + ": " + detail);
}

std::optional<std::filesystem::path> commonProgramFolder() {
    std::vector<wchar_t> buffer(kEnvironmentBufferUnits);
    const DWORD units =
        GetEnvironmentVariableW(L"CommonProgramW6432", buffer.data(), kEnvironmentBufferUnits);
    if (units == 0 || units >= kEnvironmentBufferUnits) {
        return std::nullopt;
    }
    return std::filesystem::path(std::wstring(buffer.data(), units));
}

void setFileTypes(IFileDialog* dialog, BrowseKind kind) {
    static const COMDLG_FILTERSPEC wav[] = {{L"WAV audio (*.wav)", L"*.wav"}};
    static const COMDLG_FILTERSPEC project[] = {
        {L"VELKAPHON RACK project (*.vkrack)", L"*.vkrack"}};
    static const COMDLG_FILTERSPEC plugins[] = {
        {L"Windows x64 audio plugins (*.vst3;*.clap)", L"*.vst3;*.clap"},
        {L"VST3 module (*.vst3)", L"*.vst3"},
        {L"CLAP plugin (*.clap)", L"*.clap"}};
    switch (kind) {
    case BrowseKind::PluginFile:
        throwIfFailed(dialog->SetFileTypes(3, plugins), "Could not set plugin types");
        break;
    case BrowseKind::OpenProject:
    case BrowseKind::SaveProject:
        throwIfFailed(dialog->SetFileTypes(1, project), "Could not set project type");
        throwIfFailed(dialog->SetDefaultExtension(L"vkrack"), "Could not set project extension");
        break;
    case BrowseKind::AudioFile:
    case BrowseKind::RecordingDestination:
        throwIfFailed(dialog->SetFileTypes(1, wav), "Could not set WAV type");
        throwIfFailed(dialog->SetDefaultExtension(L"wav"), "Could not set WAV extension");
        break;
    case BrowseKind::PluginBundleFolder:
    case BrowseKind::Folder:
        break;
    }
}

void setBrowserStart(IFileDialog* dialog, BrowseKind kind, const std::string& current) {
    const auto path = pathFromUtf8(current);
    if (!path) {
        throw std::runtime_error("The current file path is not valid UTF-8.");
    }
    const BrowserStart start = browserStart(kind, *path, commonProgramFolder());
    if (start.fileName) {
        throwIfFailed(dialog->SetFileName(start.fileName->c_str()),
                      "Could not set the current filename");
    }
    if (!start.folder) {
        return;
    }
    ComReference<IShellItem> folder;
    if (FAILED(SHCreateItemFromParsingName(start.folder->c_str(), nullptr, IID_IShellItem,
                                           reinterpret_cast<void**>(folder.out())))) {
        return;
    }
    throwIfFailed(dialog->SetFolder(folder.get()), "Could not open the current folder");
}

std::wstring selectedPath(IFileDialog* dialog) {
    ComReference<IShellItem> item;
    throwIfFailed(dialog->GetResult(item.out()), "Could not read the selection");
    wchar_t* text = nullptr;
    throwIfFailed(item->GetDisplayName(SIGDN_FILESYSPATH, &text),
                  "The selection has no filesystem path");
    std::wstring path = text != nullptr ? text : L"";
    CoTaskMemFree(text);
    return path;
}

BrowseResult runDialog(HWND parent, BrowseKind kind, const std::string& current) {
    const DialogKind shape = dialogKind(kind);
    ComReference<IFileDialog> dialog;
    throwIfFailed(CoCreateInstance(shape.save ? CLSID_FileSaveDialog : CLSID_FileOpenDialog,
                                   nullptr, CLSCTX_INPROC_SERVER, IID_IFileDialog,
                                   reinterpret_cast<void**>(dialog.out())),
                  "Could not create the Windows file browser");

    FILEOPENDIALOGOPTIONS options = 0;
    throwIfFailed(dialog->GetOptions(&options), "Could not read browser options");
    options = ((options & ~kOptionsRemoved) | shape.added) & ~shape.removed;
    throwIfFailed(dialog->SetOptions(options), "Could not configure the browser");
    throwIfFailed(dialog->SetTitle(shape.title), "Could not set the browser title");
    setFileTypes(dialog.get(), kind);
    setBrowserStart(dialog.get(), kind, current);

    const HRESULT shown = dialog->Show(parent);
    if (shown == kUserCancelled) {
        return {"", true};
    }
    throwIfFailed(shown, "The Windows file browser failed");
    if (parent != nullptr && !IsWindow(parent)) {
        throw std::runtime_error("The rack window closed before file selection completed.");
    }
    const std::filesystem::path accepted = validateSelection(kind, selectedPath(dialog.get()));
    return {narrowUtf16(accepted.native()), false};
}

} // namespace

BrowseResult browseForPath(NativeWindowHandle owner, BrowseKind kind, const std::string& current) {
    const auto ownerWindow = static_cast<HWND>(owner);
    if (ownerWindow != nullptr && !IsWindow(ownerWindow)) {
        throw std::runtime_error("The file browser owner is no longer available.");
    }
    const HWND parent = ownerWindow != nullptr ? GetAncestor(ownerWindow, GA_ROOT) : nullptr;

    const FocusRestorer focus;
    throwIfFailed(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED),
                  "The file browser requires a Windows UI thread");
    const ApartmentLeaver apartment;
    return runDialog(parent, kind, current);
}

} // namespace velkaphon::rack
