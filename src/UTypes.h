// The two registry key paths of the installation, as code page 936 bytes.
#pragma once

// Current user's menu entry; its last component is the text the browser shows in the context menu.
extern const char MenuExtKeyPath[];
// The machine's uninstall entry, which the programs list shows and runs.
extern const char UninstallKeyPath[];
