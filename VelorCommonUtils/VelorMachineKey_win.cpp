#include "VelorCommonUtils/VelorMachineKey_win.h"

#include <windows.h>

namespace {

std::wstring ReadStringValue(HKEY aKey, const wchar_t *aName)
{
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(aKey, aName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS
        || (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0)
        return std::wstring();
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    DWORD read = DWORD(value.size() * sizeof(wchar_t));
    if (RegQueryValueExW(aKey, aName, nullptr, &type, reinterpret_cast<BYTE *>(value.data()), &read) != ERROR_SUCCESS)
        return std::wstring();
    value.resize(read / sizeof(wchar_t));
    while (!value.empty() && value.back() == L'\0')
        value.pop_back();
    return value;
}

} // namespace

bool ReadVelorMachineKeyWin(std::wstring &aLocationType, std::wstring &aBasePath)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\CORVANA\\VELOR_PRO", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    aLocationType = ReadStringValue(key, L"LocationType");
    aBasePath = ReadStringValue(key, L"BasePath");
    RegCloseKey(key);
    return true;
}
