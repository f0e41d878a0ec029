#include "gbk.h"

#include <iconv.h>

#include <stdexcept>

std::string Gbk(const std::string& utf8)
{
    iconv_t cd = iconv_open("CP936", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        throw std::runtime_error("iconv has no CP936");
    }
    std::string in = utf8;
    std::string out(in.size() * 2 + 1, '\0');
    char* inAt = in.data();
    char* outAt = out.data();
    std::size_t inLeft = in.size();
    std::size_t outLeft = out.size();
    const std::size_t done = iconv(cd, &inAt, &inLeft, &outAt, &outLeft);
    iconv_close(cd);
    if (done == static_cast<std::size_t>(-1) || inLeft != 0) {
        throw std::runtime_error("not convertible to CP936: " + utf8);
    }
    out.resize(out.size() - outLeft);
    return out;
}

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex += digits[byte >> 4];
        hex += digits[byte & 0xF];
    }
    return hex;
}

const ExpectedTexts& Expected()
{
    static const ExpectedTexts texts{
        Gbk("Software\\Microsoft\\Internet Explorer\\MenuExt\\列出所有 Flash"),
        Gbk("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\卸载Clipindex"),
        Gbk("卸载IE右键扩展功能（列出Flash）"),
        Gbk("是否想要安装IE右键扩展功能（列出Flash）。"),
        Gbk("安装完成。"),
        Gbk("安装"),
        Gbk("是否想要卸载IE右键扩展功能（列出Flash）。"),
        Gbk("卸载完成。"),
        Gbk("卸载"),
        Gbk("操作注册表错误。"),
        Gbk("错误"),
    };
    return texts;
}

namespace {

std::string Root(HKEY root)
{
    if (root == HKEY_CURRENT_USER) {
        return "HKCU\\";
    }
    return root == HKEY_LOCAL_MACHINE ? "HKLM\\" : "?\\";
}

} // namespace

std::vector<std::string> RegistryTrace()
{
    std::vector<std::string> trace;
    for (const standin::Call& call : standin::Calls()) {
        if (call.function == "RegCreateKeyExA" || call.function == "RegDeleteKeyA") {
            trace.push_back(call.function + " " + Root(call.root) + call.path);
        } else if (call.function == "RegSetValueExA") {
            trace.push_back(call.function + " " + call.path + " [" + call.valueName + "]");
        } else if (call.function == "RegCloseKey") {
            trace.push_back(call.function + " " + call.path);
        }
    }
    return trace;
}

std::vector<std::string> RegistryPicture()
{
    std::vector<std::string> picture;
    for (const std::string& key : standin::AllKeys()) {
        picture.push_back(key);
        const std::string root = key.substr(0, 4);
        HKEY hkey = root == "HKCU" ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
        const std::string path = key.substr(5);
        for (const std::string& name : standin::ValueNames(hkey, path)) {
            const auto value = standin::ReadValue(hkey, path, name);
            std::string line = key;
            line.append(" [").append(name).append("] ").append(std::to_string(value->type));
            picture.push_back(line.append(" ").append(Hex(value->data)));
        }
    }
    return picture;
}

void RunInstaller(const std::string& commandLine, const std::vector<int>& answers, const std::string& modulePath,
                  const std::string& moduleFile)
{
    standin::SetCommandLine(commandLine);
    standin::SetModulePath(modulePath);
    if (!moduleFile.empty()) {
        standin::SetModuleFile(moduleFile);
    }
    standin::ScriptAnswers(answers);
    ClipindexStart();
}
