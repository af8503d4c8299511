#include "panel/uAutorun_win.h"

#include <windows.h>

namespace {
const wchar_t *const RunKey = L"software\\microsoft\\windows\\currentversion\\run";
} // namespace

std::wstring ReadRunValueWin(const wchar_t *aName)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, RunKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return std::wstring();
    std::wstring value;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, aName, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ && size > 0) {
        value.assign(size / sizeof(wchar_t) + 1, L'\0');
        DWORD read = DWORD(value.size() * sizeof(wchar_t));
        if (RegQueryValueExW(key, aName, nullptr, &type, reinterpret_cast<BYTE *>(value.data()), &read)
            == ERROR_SUCCESS)
            value.resize(read / sizeof(wchar_t));
        else
            value.clear();
        while (!value.empty() && value.back() == L'\0')
            value.pop_back();
    }
    RegCloseKey(key);
    return value;
}

bool WriteRunValueWin(const wchar_t *aName, const std::wstring &aData)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, RunKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return false;
    const LONG result = RegSetValueExW(key, aName, 0, REG_SZ, reinterpret_cast<const BYTE *>(aData.c_str()),
                                       DWORD((aData.size() + 1) * sizeof(wchar_t)));
    // Committed at once rather than at the next lazy flush.
    RegFlushKey(key);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

bool DeleteRunValueWin(const wchar_t *aName)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, RunKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return false;
    const LONG result = RegDeleteValueW(key, aName);
    RegCloseKey(key);
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}
