// The literals are compiled to code page 936 (-fexec-charset=CP936): 59 and 65 bytes.
#include "UTypes.h"

const char MenuExtKeyPath[] = "Software\\Microsoft\\Internet Explorer\\MenuExt\\列出所有 Flash";
const char UninstallKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\卸载Clipindex";
