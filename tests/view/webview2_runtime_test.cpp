#include "view/webview2_runtime.hpp"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <tuple>
#include <vector>

namespace velkaphon::rack {
namespace {

constexpr RegistryRoot kMachine = RegistryRoot::localMachine;
constexpr RegistryRoot kUser = RegistryRoot::currentUser;

struct RegistryValue {
    RegistryRoot root;
    std::u16string_view key;
    std::u16string_view value;
    std::u16string text;
};

struct Library {
    std::u16string path;
    const char* exportName;
};

class FakeSystem final : public WebView2System {
public:
    FakeSystem(std::vector<RegistryValue> registry, std::vector<Library> libraries,
               std::optional<std::u16string> browserFolder)
        : registry_(std::move(registry)), libraries_(std::move(libraries)),
          browserFolder_(std::move(browserFolder)) {}

    std::filesystem::path moduleFolder() override { return u"/program files/rack"; }

    std::optional<std::u16string> environmentText(std::u16string_view name) override {
        return name == kWebView2FolderVariable ? browserFolder_ : std::nullopt;
    }

    std::optional<std::u16string> registryText(RegistryRoot root, std::u16string_view key,
                                               std::u16string_view value) override {
        for (const RegistryValue& entry : registry_) {
            if (entry.root == root && entry.key == key && entry.value == value) {
                return entry.text;
            }
        }
        return std::nullopt;
    }

    void* libraryExport(const std::filesystem::path& library, const char* name) override {
        loaded.push_back(library.generic_u16string());
        for (Library& candidate : libraries_) {
            if (candidate.path == library.generic_u16string() &&
                std::string_view(candidate.exportName) == name) {
                return &candidate;
            }
        }
        return nullptr;
    }

    std::vector<std::u16string> loaded;

private:
    std::vector<RegistryValue> registry_;
    std::vector<Library> libraries_;
    std::optional<std::u16string> browserFolder_;
};

const std::u16string kLoader = u"/program files/rack/WebView2Loader.dll";
const std::u16string kMachineFolder = u"/x86/EdgeWebView/Application/120.0.2210.91";
const std::u16string kUserFolder = u"/users/me/EdgeWebView/Application/121.0.2277.83";
const std::u16string kFixedFolder = u"/fixed/runtime";
const std::u16string kTail = u"/EBWebView/x64/EmbeddedBrowserWebView.dll";

RegistryValue folderOf(RegistryRoot root, std::u16string folder) {
    return {root, kWebView2ClientStateKey, kWebView2FolderValue, std::move(folder)};
}
RegistryValue versionOf(RegistryRoot root, std::u16string version) {
    return {root, kWebView2ClientsKey, kWebView2VersionValue, std::move(version)};
}
Library runtimeIn(const std::u16string& folder) {
    return {folder + kTail, kRuntimeExport};
}

struct LookupCase {
    const char* name;
    std::vector<RegistryValue> registry;
    std::vector<Library> libraries;
    std::optional<std::u16string> browserFolder;
    // Empty when nothing is found.
    std::u16string expectedLibrary;
};

// Both installs registered and present, each at a version the view accepts.
std::vector<RegistryValue> bothInstalls() {
    return {folderOf(kMachine, kMachineFolder), versionOf(kMachine, u"120.0.2210.91"),
            folderOf(kUser, kUserFolder), versionOf(kUser, u"121.0.2277.83")};
}
std::vector<Library> bothRuntimes() {
    return {runtimeIn(kMachineFolder), runtimeIn(kUserFolder)};
}
std::vector<Library> with(std::vector<Library> libraries, Library extra) {
    libraries.push_back(std::move(extra));
    return libraries;
}
std::vector<RegistryValue> with(std::vector<RegistryValue> values, RegistryValue extra) {
    values.insert(values.begin(), std::move(extra));
    return values;
}

TEST(WebView2Runtime, LookupTakesTheFirstUsableSourceInOrder) {
    const std::vector<LookupCase> cases = {
        {"nothing at all", {}, {}, std::nullopt, u""},
        {"a loader beside the module wins", bothInstalls(),
         with(with(bothRuntimes(), {kLoader, kLoaderExport}), runtimeIn(kFixedFolder)),
         kFixedFolder, kLoader},
        {"a loader without its export is passed over", bothInstalls(),
         with(with(bothRuntimes(), {kLoader, kRuntimeExport}), runtimeIn(kFixedFolder)),
         kFixedFolder, kFixedFolder + kTail},
        {"the variable's folder comes before the installs", bothInstalls(),
         with(bothRuntimes(), runtimeIn(kFixedFolder)), kFixedFolder, kFixedFolder + kTail},
        {"an empty variable is no folder", bothInstalls(), bothRuntimes(), u"",
         kMachineFolder + kTail},
        {"a variable's folder without the runtime falls through", bothInstalls(), bothRuntimes(),
         kFixedFolder, kMachineFolder + kTail},
        {"per machine before per user", bothInstalls(), bothRuntimes(), std::nullopt,
         kMachineFolder + kTail},
        {"no machine value",
         {folderOf(kUser, kUserFolder)},
         bothRuntimes(),
         std::nullopt,
         kUserFolder + kTail},
        {"an empty machine value", with(bothInstalls(), folderOf(kMachine, u"")), bothRuntimes(),
         std::nullopt, kUserFolder + kTail},
        {"the machine's library missing",
         bothInstalls(),
         {runtimeIn(kUserFolder)},
         std::nullopt,
         kUserFolder + kTail},
        {"the machine's library without the export",
         bothInstalls(),
         {{kMachineFolder + kTail, kLoaderExport}, runtimeIn(kUserFolder)},
         std::nullopt,
         kUserFolder + kTail},
        {"the machine's runtime one step too old",
         with(bothInstalls(), versionOf(kMachine, u"89.0.774.43")), bothRuntimes(), std::nullopt,
         kUserFolder + kTail},
        {"the oldest accepted runtime", with(bothInstalls(), versionOf(kMachine, u"89.0.774.44")),
         bothRuntimes(), std::nullopt, kMachineFolder + kTail},
        {"an unreadable version", with(bothInstalls(), versionOf(kMachine, u"120.0")),
         bothRuntimes(), std::nullopt, kUserFolder + kTail},
        {"no recorded version: the folder's name tells it",
         {folderOf(kMachine, kMachineFolder)},
         bothRuntimes(),
         std::nullopt,
         kMachineFolder + kTail},
        {"no recorded version and an old folder",
         {folderOf(kMachine, u"/old/86.0.616.0"), folderOf(kUser, kUserFolder)},
         with(bothRuntimes(), runtimeIn(u"/old/86.0.616.0")),
         std::nullopt,
         kUserFolder + kTail},
        {"every source unusable",
         {folderOf(kMachine, kMachineFolder), versionOf(kMachine, u"80.0.361.111"),
          folderOf(kUser, u"")},
         bothRuntimes(),
         std::nullopt,
         u""},
        {"a folder outside ASCII",
         {folderOf(kUser, u"/Benutzer/J\u00fcrgen \u97f3\u697d/121.0.2277.83")},
         {runtimeIn(u"/Benutzer/J\u00fcrgen \u97f3\u697d/121.0.2277.83")},
         std::nullopt,
         u"/Benutzer/J\u00fcrgen \u97f3\u697d/121.0.2277.83" + kTail},
    };
    for (const LookupCase& test : cases) {
        SCOPED_TRACE(test.name);
        FakeSystem system(test.registry, test.libraries, test.browserFolder);
        const std::optional<WebView2Entry> entry = findWebView2(system);
        if (test.expectedLibrary.empty()) {
            EXPECT_FALSE(entry);
            continue;
        }
        ASSERT_TRUE(entry);
        EXPECT_EQ(entry->library.generic_u16string(), test.expectedLibrary);
        EXPECT_EQ(system.loaded.back(), test.expectedLibrary);
        const bool isLoader = test.expectedLibrary == kLoader;
        EXPECT_EQ(entry->kind, isLoader ? WebView2EntryKind::loader : WebView2EntryKind::runtime);
        const bool inFolder = test.expectedLibrary == kFixedFolder + kTail;
        EXPECT_EQ(entry->runtimeType, inFolder ? kRuntimeInFolder : kRuntimeInstalled);
        const auto* library = static_cast<const Library*>(entry->function);
        EXPECT_EQ(library->path, test.expectedLibrary);
    }
}

TEST(WebView2Runtime, VersionsAreFourNumbers) {
    using Version = std::array<unsigned, 4>;
    const std::vector<std::tuple<std::u16string_view, std::optional<Version>>> cases = {
        {u"89.0.774.44", Version{89, 0, 774, 44}},
        {u"121.0.2277.83", Version{121, 0, 2277, 83}},
        {u"0.0.0.0", Version{0, 0, 0, 0}},
        {u"120.0.2210", std::nullopt},
        {u"120.0.2210.91.1", std::nullopt},
        {u"120..2210.91", std::nullopt},
        {u"120.0.2210.", std::nullopt},
        {u".0.2210.91", std::nullopt},
        {u"120.0.2210.9a", std::nullopt},
        {u" 120.0.2210.91", std::nullopt},
        {u"", std::nullopt},
        {u"4294967296.0.0.0", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(std::string(text.begin(), text.end()));
        EXPECT_EQ(parseWebView2Version(text), expected);
    }
}

} // namespace
} // namespace velkaphon::rack
