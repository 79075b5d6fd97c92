#include "abi/webview2/webview2.hpp"
#include "app/project_file.hpp"
#include "app/rack_application.hpp"
#include "audio/text_codec.hpp"
#include "view/file_dialogs.hpp"
#include "view/message_box.hpp"
#include "view/native_rack_view.hpp"
#include "view/page_bridge.hpp"
#include "view/ui_folder.hpp"
#include "view/webview2_runtime.hpp"

#include <atomic>
#include <memory>
#include <stdexcept>
#include <vector>
#include <windows.h>

namespace velkaphon::rack {

namespace {

namespace wv = webview2;

constexpr const wchar_t* kViewClass = L"VelkaphonRackView";
constexpr const wchar_t* kEditorClass = L"VelkaphonVstEditor";
constexpr const wchar_t* kEditorTitle = L"VELKAPHON \u2014 Plugin editor";
constexpr const wchar_t* kVirtualHost = L"velkaphon-rack.invalid";
constexpr const char* kOrigin = "https://velkaphon-rack.invalid/";
constexpr const wchar_t* kPageAddress = L"https://velkaphon-rack.invalid/index.html";
constexpr UINT_PTR kViewTimer = 1;
constexpr UINT kViewTimerMilliseconds = 100;
constexpr DWORD kModuleFromAddressPinned = 5;
constexpr DWORD kModulePathUnits = 32'768;
constexpr const wchar_t* kRuntimeMissingText =
    L"Microsoft Edge WebView2 Runtime was not found, so the rack's controls cannot be shown "
    L"here.\n\nThe rack itself keeps running and saving as usual; only this view is empty.\n\n"
    L"Install the Evergreen WebView2 Runtime from Microsoft's WebView2 download page, "
    L"https://developer.microsoft.com/microsoft-edge/webview2/, then open the rack again.";
constexpr int kExplanationMargin = 24;

std::atomic<int> openViewCount{0};

std::wstring widen(const std::string& text) {
    const std::u16string wide = utf8ToWide(text);
    return {wide.begin(), wide.end()};
}

std::string narrow(const wchar_t* text) {
    return wideToUtf8(reinterpret_cast<const char16_t*>(text));
}

HMODULE currentModuleHandle() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&currentModuleHandle), &module);
    return module;
}

std::filesystem::path uiContentFolder() {
    std::vector<wchar_t> buffer(kModulePathUnits);
    const DWORD units = GetModuleFileNameW(currentModuleHandle(), buffer.data(), kModulePathUnits);
    return uiFolderForModule(std::filesystem::path(std::wstring(buffer.data(), units)));
}

LRESULT CALLBACK rackViewWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK editorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

void registerClass(const wchar_t* name, WNDPROC procedure) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = currentModuleHandle();
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = name;
    RegisterClassW(&windowClass);
}

} // namespace

// One per view. Shared by the handle and every WebView2 handler; each handler finds it closed
// once the view is going and then does nothing.
struct ViewContext final : EditorWindowHost {
    explicit ViewContext(RackApplication& application)
        : rack(application),
          bridge(
              application, kOrigin,
              [this](BrowseKind kind, const std::string& current) { return browse(kind, current); },
              *this) {}

    void addReference() { references.fetch_add(1, std::memory_order_relaxed); }
    void release() {
        if (references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            delete this;
        }
    }

    BrowseResult browse(BrowseKind kind, const std::string& current) {
        BrowseResult result = browseForPath(viewWindow, kind, current);
        if (closed || viewWindow == nullptr || !IsWindow(viewWindow)) {
            throw std::runtime_error("The rack editor closed before file selection completed.");
        }
        return result;
    }

    NativeWindowHandle replaceEditorWindow() override {
        destroyEditorWindow();
        registerClass(kEditorClass, editorWindowProc);
        editorWindow = CreateWindowExW(WS_EX_TOOLWINDOW, kEditorClass, kEditorTitle,
                                       WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 900, 650,
                                       GetAncestor(viewWindow, GA_ROOT), nullptr,
                                       currentModuleHandle(), nullptr);
        if (editorWindow != nullptr) {
            SetWindowLongPtrW(editorWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        }
        return editorWindow;
    }

    void destroyEditorWindow() override {
        if (editorWindow != nullptr) {
            // Its own procedure clears the field.
            DestroyWindow(editorWindow);
            editorWindow = nullptr;
        }
    }

    void releaseWebView() {
        if (webView != nullptr) {
            webView->Release();
            webView = nullptr;
        }
        if (controller != nullptr) {
            controller->Release();
            controller = nullptr;
        }
    }

    // The window says why it stays empty, for as long as it is open.
    void showRuntimeMissing() {
        runtimeMissing = true;
        if (viewWindow != nullptr) {
            InvalidateRect(viewWindow, nullptr, TRUE);
        }
    }

    void fitController() {
        RECT bounds{};
        GetClientRect(viewWindow, &bounds);
        controller->put_Bounds(bounds);
    }

    std::atomic<int> references{1};
    HWND viewWindow = nullptr;
    HWND editorWindow = nullptr;
    RackApplication& rack;
    wv::ICoreWebView2Controller* controller = nullptr;
    wv::ICoreWebView2* webView = nullptr;
    bool closed = false;
    PageBridge bridge;
    bool runtimeMissing = false;

private:
    ~ViewContext() { releaseWebView(); }
};

struct NativeRackView {
    ViewContext* context;
};

namespace {

// The small COM objects WebView2 calls back; each holds a reference to the context.
template <typename Interface, const IID& InterfaceId>
class Handler : public Interface {
public:
    explicit Handler(ViewContext& context) : context_(context) { context_.addReference(); }
    Handler(const Handler&) = delete;
    Handler& operator=(const Handler&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, InterfaceId)) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            context_.release();
            delete this;
        }
        return left;
    }

protected:
    virtual ~Handler() = default;
    ViewContext& context_;

private:
    std::atomic<ULONG> references_{1};
};

class MessageHandler : public Handler<wv::ICoreWebView2WebMessageReceivedEventHandler,
                                      wv::kIidWebMessageReceivedEventHandler> {
public:
    using Handler::Handler;

    HRESULT STDMETHODCALLTYPE Invoke(wv::ICoreWebView2*,
                                     wv::ICoreWebView2WebMessageReceivedEventArgs* args) override {
        if (context_.closed) {
            return S_OK;
        }
        LPWSTR source = nullptr;
        args->get_Source(&source);
        const std::string sourceText = source != nullptr ? narrow(source) : std::string();
        CoTaskMemFree(source);
        LPWSTR message = nullptr;
        args->get_WebMessageAsJson(&message);
        const std::string messageText = message != nullptr ? narrow(message) : std::string();
        CoTaskMemFree(message);

        const auto reply = context_.bridge.answer(sourceText, messageText);
        if (reply && !context_.closed && context_.webView != nullptr) {
            context_.webView->PostWebMessageAsJson(widen(*reply).c_str());
        }
        return S_OK;
    }
};

class ControllerHandler
    : public Handler<wv::ICoreWebView2CreateCoreWebView2ControllerCompletedHandler,
                     wv::kIidControllerCompletedHandler> {
public:
    using Handler::Handler;

    HRESULT STDMETHODCALLTYPE Invoke(HRESULT result,
                                     wv::ICoreWebView2Controller* controller) override {
        if (context_.closed || FAILED(result) || controller == nullptr) {
            return S_OK;
        }
        context_.releaseWebView();
        controller->AddRef();
        context_.controller = controller;
        controller->get_CoreWebView2(&context_.webView);
        if (context_.webView == nullptr) {
            return S_OK;
        }
        context_.fitController();

        wv::ICoreWebView2_3* mapping = nullptr;
        if (SUCCEEDED(context_.webView->QueryInterface(wv::kIidCoreWebView2_3,
                                                       reinterpret_cast<void**>(&mapping)))) {
            mapping->SetVirtualHostNameToFolderMapping(kVirtualHost, uiContentFolder().c_str(),
                                                       wv::kHostResourceAccessDenyCors);
            mapping->Release();
        }
        wv::ICoreWebView2Settings* settings = nullptr;
        if (SUCCEEDED(context_.webView->get_Settings(&settings)) && settings != nullptr) {
            settings->put_AreDevToolsEnabled(FALSE);
            settings->put_AreDefaultContextMenusEnabled(FALSE);
            settings->Release();
        }
        auto* messages = new MessageHandler(context_);
        wv::EventRegistrationToken token{};
        context_.webView->add_WebMessageReceived(messages, &token);
        messages->Release();
        context_.webView->Navigate(kPageAddress);
        return S_OK;
    }
};

class EnvironmentHandler
    : public Handler<wv::ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler,
                     wv::kIidEnvironmentCompletedHandler> {
public:
    using Handler::Handler;

    HRESULT STDMETHODCALLTYPE Invoke(HRESULT result,
                                     wv::ICoreWebView2Environment* environment) override {
        if (context_.closed) {
            return S_OK;
        }
        if (FAILED(result) || environment == nullptr) {
            context_.showRuntimeMissing();
            showMessageBox(context_.viewWindow,
                           "Install Microsoft Edge WebView2 Runtime to open the rack controls.",
                           kProductTitle, kMessageBoxError);
            return S_OK;
        }
        auto* controllers = new ControllerHandler(context_);
        const HRESULT created =
            environment->CreateCoreWebView2Controller(context_.viewWindow, controllers);
        controllers->Release();
        return created;
    }
};

// The environment from a loader beside our module or from the installed runtime itself; no usable
// runtime is an immediate failure.
HRESULT createEnvironment(const std::filesystem::path& userData, ViewContext& context) {
    const std::optional<WebView2Entry> entry = findWebView2(windowsWebView2System());
    if (!entry) {
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    auto* handler = new EnvironmentHandler(context);
    HRESULT result = E_FAIL;
    if (entry->kind == WebView2EntryKind::loader) {
        const auto create = reinterpret_cast<wv::CreateEnvironmentWithOptions>(entry->function);
        result = create(nullptr, userData.c_str(), nullptr, handler);
    } else {
        const auto create = reinterpret_cast<wv::CreateRuntimeEnvironment>(entry->function);
        result = create(TRUE, entry->runtimeType, userData.c_str(), nullptr, handler);
    }
    handler->Release();
    return result;
}

// In the system's message font, which follows the display scaling.
void paintRuntimeMissing(HWND window) {
    PAINTSTRUCT paint;
    const HDC device = BeginPaint(window, &paint);
    RECT bounds{};
    GetClientRect(window, &bounds);
    FillRect(device, &bounds, GetSysColorBrush(COLOR_WINDOW));
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    const HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
    const HGDIOBJ previous = SelectObject(device, font);
    SetTextColor(device, GetSysColor(COLOR_WINDOWTEXT));
    SetBkMode(device, TRANSPARENT);
    InflateRect(&bounds, -kExplanationMargin, -kExplanationMargin);
    DrawTextW(device, kRuntimeMissingText, -1, &bounds, DT_LEFT | DT_TOP | DT_WORDBREAK);
    SelectObject(device, previous);
    DeleteObject(font);
    EndPaint(window, &paint);
}

ViewContext* contextOf(HWND window) {
    return reinterpret_cast<ViewContext*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

LRESULT CALLBACK rackViewWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ViewContext* context = contextOf(window);
    switch (message) {
    case WM_SIZE:
        if (context != nullptr && context->controller != nullptr) {
            context->fitController();
            return 0;
        }
        if (context != nullptr && context->runtimeMissing) {
            // The explanation wraps anew at every width.
            InvalidateRect(window, nullptr, TRUE);
        }
        break;
    case WM_PAINT:
        if (context != nullptr && context->runtimeMissing) {
            paintRuntimeMissing(window);
            return 0;
        }
        break;
    case WM_TIMER:
        if (context != nullptr && !context->closed) {
            context->rack.runControlTimer();
            return 0;
        }
        break;
    case WM_NCDESTROY:
        if (context != nullptr) {
            context->viewWindow = nullptr;
            context->closed = true;
            context->bridge.close();
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        }
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK editorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ViewContext* context = contextOf(window);
    switch (message) {
    case WM_CLOSE:
        if (context != nullptr) {
            context->rack.closeHostedEditors();
            context->editorWindow = nullptr;
        }
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        if (context != nullptr) {
            context->rack.closeHostedEditors();
        }
        break;
    case WM_NCDESTROY:
        if (context != nullptr) {
            if (context->editorWindow == window) {
                context->editorWindow = nullptr;
            }
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        }
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

NativeViewHandle createNativeRackView(void* parent, RackApplication* rack) {
    // The browser data folder first: its failure must leave no window or timer behind.
    const std::filesystem::path userData = userStorageFolder() / "webview";

    HMODULE pinned = nullptr;
    GetModuleHandleExW(kModuleFromAddressPinned, reinterpret_cast<LPCWSTR>(&currentModuleHandle),
                       &pinned);

    auto* context = new ViewContext(*rack);
    auto* handle = new NativeRackView{context};
    registerClass(kViewClass, rackViewWindowProc);
    openViewCount.fetch_add(1);

    const HWND parentWindow = static_cast<HWND>(parent);
    RECT client{};
    GetClientRect(parentWindow, &client);
    context->viewWindow =
        CreateWindowExW(0, kViewClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0,
                        client.right - client.left, client.bottom - client.top, parentWindow,
                        nullptr, currentModuleHandle(), nullptr);
    SetWindowLongPtrW(context->viewWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(context));
    SetTimer(context->viewWindow, kViewTimer, kViewTimerMilliseconds, nullptr);

    if (FAILED(createEnvironment(userData, *context))) {
        context->showRuntimeMissing();
        showMessageBox(context->viewWindow,
                       "Could not initialize WebView2. Check Microsoft Edge WebView2 Runtime.",
                       kProductTitle, kMessageBoxError);
    }
    return handle;
}

void resizeNativeRackView(NativeViewHandle view, std::uint32_t width, std::uint32_t height) {
    if (view == nullptr) {
        return;
    }
    ViewContext* context = view->context;
    context->addReference();
    if (context->viewWindow != nullptr) {
        SetWindowPos(context->viewWindow, nullptr, 0, 0, static_cast<int>(width),
                     static_cast<int>(height), SWP_NOZORDER | SWP_NOACTIVATE);
    }
    context->release();
}

void destroyNativeRackView(NativeViewHandle view) {
    if (view == nullptr) {
        return;
    }
    ViewContext* context = view->context;
    context->addReference();
    context->closed = true;
    context->bridge.close();
    context->rack.closeHostedEditors();
    context->destroyEditorWindow();
    if (context->controller != nullptr) {
        context->controller->Close();
    }
    context->releaseWebView();
    if (context->viewWindow != nullptr && IsWindow(context->viewWindow)) {
        DestroyWindow(context->viewWindow);
    }
    context->release();
    delete view;
    if (openViewCount.fetch_sub(1) == 1) {
        UnregisterClassW(kViewClass, currentModuleHandle());
        UnregisterClassW(kEditorClass, currentModuleHandle());
    }
    context->release();
}

} // namespace velkaphon::rack
