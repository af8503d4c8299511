#pragma once
// The two commands added to the main window's system menu on Windows. Plain Win32, no Qt, so the
// file compiles on its own; elsewhere these do nothing and the commands live in a context menu.

#include <cstdint>

// Appends a separator, the test-mode command, a separator and the stay-on-top command.
void AppendSystemMenuCommands(void *aWindowHandle, int aTestModeId, const wchar_t *aTestModeCaption, int aStayOnTopId,
                              const wchar_t *aStayOnTopCaption);
void CheckSystemMenuCommand(void *aWindowHandle, int aCommandId, bool aChecked);
// The command of a WM_SYSCOMMAND message, or -1 for any other message.
int SystemMenuCommandOf(const void *aNativeMessage);
