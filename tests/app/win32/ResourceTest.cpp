// The resources linked into qdxclient.exe, read back as the system reads them: the two dialog
// templates control by control, the string table against the texts the program shows, icon 128,
// the version and the common-controls manifest.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/DialogTemplates.h"
#include "app/WindowTexts.h"
#include "app/win32/WideText.h"
#include "app/win32/resource.h"
#include "engine/Texts.h"

namespace qdx::app {
namespace {

std::wstring W(const char* utf8) {
    return Wide(utf8);
}

// One DLGTEMPLATEEX and its items, as stored.
struct TemplateItem {
    DWORD style = 0;
    DWORD exStyle = 0;
    DuRect rect;
    int id = 0;
    std::wstring className;  // "Button", "Static" for the predefined ordinals
    std::wstring text;
    WORD textOrdinal = 0;  // a resource id in place of a text (an icon)
};

struct Template {
    DWORD style = 0;
    DWORD exStyle = 0;
    DuRect rect;
    std::wstring title;
    WORD pointSize = 0;
    std::wstring font;
    std::vector<TemplateItem> items;
};

class Reader {
public:
    explicit Reader(const BYTE* data) : m_start(data), m_at(data) {}
    WORD Word() {
        WORD value;
        std::memcpy(&value, m_at, sizeof value);
        m_at += sizeof value;
        return value;
    }
    DWORD Dword() {
        DWORD value;
        std::memcpy(&value, m_at, sizeof value);
        m_at += sizeof value;
        return value;
    }
    short Short() { return static_cast<short>(Word()); }
    BYTE Byte() { return *m_at++; }
    std::wstring String() {
        std::wstring text;
        for (WORD c = Word(); c != 0; c = Word()) {
            text.push_back(static_cast<wchar_t>(c));
        }
        return text;
    }
    // A string, an ordinal (0xFFFF then the number) or nothing.
    std::wstring StringOrOrdinal(WORD* ordinal) {
        const WORD first = Word();
        if (first == 0) {
            return {};
        }
        if (first == 0xFFFF) {
            *ordinal = Word();
            return {};
        }
        std::wstring text(1, static_cast<wchar_t>(first));
        text += String();
        return text;
    }
    void AlignDword() {
        while ((m_at - m_start) % 4 != 0) {
            ++m_at;
        }
    }
    void Skip(std::size_t bytes) { m_at += bytes; }

private:
    const BYTE* m_start;
    const BYTE* m_at;
};

const BYTE* ResourceData(LPCWSTR type, WORD id, DWORD* size = nullptr) {
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (found == nullptr) {
        return nullptr;
    }
    if (size != nullptr) {
        *size = SizeofResource(module, found);
    }
    return static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
}

Template ReadTemplate(WORD id) {
    Template t;
    const BYTE* data = ResourceData(RT_DIALOG, id);
    if (data == nullptr) {
        ADD_FAILURE() << "no dialog " << id;
        return t;
    }
    Reader r(data);
    EXPECT_EQ(r.Word(), 1);       // dlgVer
    EXPECT_EQ(r.Word(), 0xFFFF);  // an extended template
    r.Dword();                    // help id
    t.exStyle = r.Dword();
    t.style = r.Dword();
    const WORD count = r.Word();
    t.rect.x = r.Short();
    t.rect.y = r.Short();
    t.rect.width = r.Short();
    t.rect.height = r.Short();
    WORD ordinal = 0;
    EXPECT_TRUE(r.StringOrOrdinal(&ordinal).empty());  // no menu
    EXPECT_TRUE(r.StringOrOrdinal(&ordinal).empty());  // the dialog class
    t.title = r.String();
    if (t.style & DS_SETFONT) {
        t.pointSize = r.Word();
        r.Word();  // weight
        r.Byte();  // italic
        r.Byte();  // character set
        t.font = r.String();
    }
    for (WORD i = 0; i < count; ++i) {
        r.AlignDword();
        TemplateItem item;
        r.Dword();  // help id
        item.exStyle = r.Dword();
        item.style = r.Dword();
        item.rect.x = r.Short();
        item.rect.y = r.Short();
        item.rect.width = r.Short();
        item.rect.height = r.Short();
        item.id = static_cast<int>(r.Dword());
        WORD classOrdinal = 0;
        item.className = r.StringOrOrdinal(&classOrdinal);
        // Class names compare without case; the predefined ones may also be stored as numbers.
        if (classOrdinal == 0x0080 || _wcsicmp(item.className.c_str(), L"Button") == 0) {
            item.className = L"Button";
        } else if (classOrdinal == 0x0082 || _wcsicmp(item.className.c_str(), L"Static") == 0) {
            item.className = L"Static";
        }
        item.text = r.StringOrOrdinal(&item.textOrdinal);
        r.Skip(r.Word());  // creation data
        t.items.push_back(item);
    }
    return t;
}

TEST(Resources, MainWindowTemplate102) {
    const Template t = ReadTemplate(IDD_QDXCLIENT_DIALOG);
    EXPECT_EQ(t.rect, MainTemplate::kClient);
    EXPECT_EQ(t.title, W(texts::kMainTitle));
    EXPECT_EQ(t.pointSize, kDialogFontPointSize);
    EXPECT_EQ(t.font, L"宋体");
    // A popup with caption, system menu and minimise box in a modal frame, neither resizable
    // nor maximisable, with its own task-bar button.
    const DWORD wanted = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME;
    EXPECT_EQ(t.style & wanted, wanted);
    EXPECT_EQ(t.style & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_CHILD), 0u);
    EXPECT_TRUE(t.exStyle & WS_EX_APPWINDOW);

    ASSERT_EQ(t.items.size(), 4u);
    // In tab order: Start, the bar, the status line, the group box.
    const TemplateItem& start = t.items[0];
    EXPECT_EQ(start.id, kIdStart);
    EXPECT_EQ(start.className, L"Button");
    EXPECT_EQ(start.style & BS_TYPEMASK, static_cast<DWORD>(BS_PUSHBUTTON));  // not the default
    EXPECT_EQ(start.style & (WS_VISIBLE | WS_TABSTOP | WS_DISABLED),
              static_cast<DWORD>(WS_VISIBLE | WS_TABSTOP));
    EXPECT_EQ(start.text, W(texts::kStart));
    EXPECT_EQ(start.rect, MainTemplate::kStart);

    const TemplateItem& bar = t.items[1];
    EXPECT_EQ(bar.id, kIdProgress);
    EXPECT_EQ(_wcsicmp(bar.className.c_str(), PROGRESS_CLASSW), 0) << bar.className;  // any case
    EXPECT_EQ(bar.style & (WS_VISIBLE | WS_BORDER | WS_DISABLED | WS_TABSTOP),
              static_cast<DWORD>(WS_VISIBLE | WS_BORDER | WS_DISABLED));
    EXPECT_EQ(bar.rect, MainTemplate::kProgress);

    const TemplateItem& status = t.items[2];
    EXPECT_EQ(status.id, kIdStatus);
    EXPECT_EQ(status.className, L"Static");
    EXPECT_EQ(status.style & SS_TYPEMASK, static_cast<DWORD>(SS_LEFT));
    EXPECT_EQ(status.style & (WS_VISIBLE | WS_GROUP | WS_DISABLED),
              static_cast<DWORD>(WS_VISIBLE | WS_GROUP | WS_DISABLED));
    EXPECT_EQ(status.text, W(texts::kStatusInitial));
    EXPECT_EQ(status.rect, MainTemplate::kStatus);

    const TemplateItem& group = t.items[3];
    EXPECT_EQ(group.id, kIdDeviceGroup);
    EXPECT_EQ(group.className, L"Button");
    EXPECT_EQ(group.style & BS_TYPEMASK, static_cast<DWORD>(BS_GROUPBOX));
    EXPECT_EQ(group.style & BS_CENTER, static_cast<DWORD>(BS_CENTER));
    EXPECT_TRUE(group.style & WS_VISIBLE);
    EXPECT_EQ(group.text, W(texts::kDeviceGroup));
    EXPECT_EQ(group.rect, MainTemplate::kDeviceGroup);
}

TEST(Resources, AboutBoxTemplate100) {
    const Template t = ReadTemplate(IDD_ABOUTBOX);
    EXPECT_EQ(t.rect, AboutTemplate::kClient);
    EXPECT_EQ(t.title, W(texts::kAboutTitle));
    EXPECT_EQ(t.pointSize, kDialogFontPointSize);
    EXPECT_EQ(t.font, L"宋体");
    const DWORD wanted = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    EXPECT_EQ(t.style & wanted, wanted);
    EXPECT_EQ(t.style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0u);

    ASSERT_EQ(t.items.size(), 3u);
    const TemplateItem& icon = t.items[0];
    EXPECT_EQ(icon.className, L"Static");
    EXPECT_EQ(icon.style & SS_TYPEMASK, static_cast<DWORD>(SS_ICON));
    EXPECT_EQ(icon.textOrdinal, IDR_MAINFRAME);
    EXPECT_EQ(icon.id, IDC_STATIC);
    EXPECT_EQ(icon.rect, AboutTemplate::kIcon);

    const TemplateItem& version = t.items[1];
    EXPECT_EQ(version.className, L"Static");
    EXPECT_EQ(version.style & (SS_NOPREFIX | WS_GROUP), static_cast<DWORD>(SS_NOPREFIX | WS_GROUP));
    EXPECT_EQ(version.text, W(texts::kAboutVersion));
    EXPECT_EQ(version.id, IDC_STATIC);
    EXPECT_EQ(version.rect, AboutTemplate::kVersion);

    const TemplateItem& ok = t.items[2];
    EXPECT_EQ(ok.id, IDOK);
    EXPECT_EQ(ok.className, L"Button");
    EXPECT_EQ(ok.style & BS_TYPEMASK, static_cast<DWORD>(BS_DEFPUSHBUTTON));
    EXPECT_EQ(ok.style & (WS_TABSTOP | WS_GROUP), static_cast<DWORD>(WS_TABSTOP | WS_GROUP));
    EXPECT_EQ(ok.text, W(texts::kOk));
    EXPECT_EQ(ok.rect, AboutTemplate::kOk);
}

TEST(Resources, StringTableCarriesTheTextsShown) {
    const struct {
        UINT id;
        const char* text;
    } strings[] = {
        {IDS_ABOUTBOX, texts::kAboutMenuItem},      {IDS_NOT_CONNECTED, texts::kNotConnected},
        {IDS_CONNECTED, texts::kConnected},         {IDS_OPEN_FAILED, qdx::texts::kOpenFailed},
        {IDS_INIT_FAILED, qdx::texts::kInitFailed},
    };
    for (const auto& s : strings) {
        const wchar_t* text = nullptr;
        const int length =
            LoadStringW(GetModuleHandleW(nullptr), s.id, reinterpret_cast<LPWSTR>(&text), 0);
        EXPECT_EQ(std::wstring(text, static_cast<std::size_t>(length > 0 ? length : 0)), W(s.text))
            << s.id;
    }
}

TEST(Resources, Icon128HasTheSmallAndTheLargeSize) {
    const BYTE* group = ResourceData(RT_GROUP_ICON, IDR_MAINFRAME);
    ASSERT_NE(group, nullptr);
    for (int size : {16, 32}) {
        const int id = LookupIconIdFromDirectoryEx(const_cast<BYTE*>(group), TRUE, size, size,
                                                   LR_DEFAULTCOLOR);
        DWORD bytes = 0;
        const BYTE* image = ResourceData(RT_ICON, static_cast<WORD>(id), &bytes);
        ASSERT_NE(image, nullptr) << size;
        // An exact size, not one the system scales: the bitmap header names it.
        BITMAPINFOHEADER header;
        std::memcpy(&header, image, sizeof header);
        EXPECT_EQ(header.biWidth, size);
        EXPECT_EQ(header.biHeight, 2 * size);
        EXPECT_EQ(header.biBitCount, 32);
        const HICON icon = CreateIconFromResourceEx(const_cast<BYTE*>(image), bytes, TRUE,
                                                    0x00030000, size, size, LR_DEFAULTCOLOR);
        EXPECT_NE(icon, nullptr) << size;
        DestroyIcon(icon);
    }
}

TEST(Resources, VersionAndManifest) {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const DWORD size = GetFileVersionInfoSizeW(path, nullptr);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(1, 2));  // 2.1
    wchar_t* version = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\080404b0\\ProductVersion",
                               reinterpret_cast<void**>(&version), &length));
    EXPECT_EQ(std::wstring(version), L"2.01");

    DWORD bytes = 0;
    const BYTE* manifest = ResourceData(RT_MANIFEST, 1, &bytes);
    ASSERT_NE(manifest, nullptr);
    const std::string text(reinterpret_cast<const char*>(manifest), bytes);
    EXPECT_NE(text.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(text.find("version=\"6.0.0.0\""), std::string::npos);
}

}  // namespace
}  // namespace qdx::app
