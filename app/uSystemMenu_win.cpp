#include "app/uSystemMenu.h"

#include <windows.h>

void AppendSystemMenuCommands(void *aWindowHandle, int aTestModeId, const wchar_t *aTestModeCaption, int aStayOnTopId,
                              const wchar_t *aStayOnTopCaption)
{
    HMENU menu = GetSystemMenu(static_cast<HWND>(aWindowHandle), FALSE);
    if (!menu)
        return;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(aTestModeId), aTestModeCaption);
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(aStayOnTopId), aStayOnTopCaption);
}

void CheckSystemMenuCommand(void *aWindowHandle, int aCommandId, bool aChecked)
{
    HMENU menu = GetSystemMenu(static_cast<HWND>(aWindowHandle), FALSE);
    if (menu)
        CheckMenuItem(menu, static_cast<UINT>(aCommandId), MF_BYCOMMAND | (aChecked ? MF_CHECKED : MF_UNCHECKED));
}

int SystemMenuCommandOf(const void *aNativeMessage)
{
    const MSG *message = static_cast<const MSG *>(aNativeMessage);
    if (!message || message->message != WM_SYSCOMMAND)
        return -1;
    // Our own command identifiers are compared whole: masking the low four bits, as the system's
    // own commands require, would change them.
    return static_cast<int>(message->wParam);
}
