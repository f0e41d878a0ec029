// Reads a res: address through the platform's own res: protocol handler, the one the browser uses
// (mshtml's res protocol object, driven through urlmon's IInternetProtocol), and prints what it gives.
//
// usage: read_res_url ADDRESS_HEX
//   ADDRESS_HEX  the address as code page 936 bytes, in hex (as the registry holds it)
// prints "ok <bytes in hex>" and exits 0 when the address resolves, "failed <HRESULT>" and exits 1 when
// it does not, and exits 2 on a usage error.
#include <windows.h>

#include <urlmon.h>

#include <cstdio>
#include <string>

#include "hex.h"

namespace {

// {3050F3BC-98B5-11CF-BB82-00AA00BDCE0B}: the res: protocol of mshtml.
const CLSID kResProtocol = {0x3050F3BC, 0x98B5, 0x11CF, {0xBB, 0x82, 0x00, 0xAA, 0x00, 0xBD, 0xCE, 0x0B}};

// The protocol reports to a sink and asks a bind-info object how to bind; both live on the stack of
// main and need no reference counting.
// IUnknown's QueryInterface for an object with one interface of its own.
HRESULT QueryOwnInterface(IUnknown* self, REFIID own, REFIID riid, void** object)
{
    *object = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, own) ? self : nullptr;
    return *object != nullptr ? S_OK : E_NOINTERFACE;
}

class Sink : public IInternetProtocolSink {
public:
    HRESULT result = E_PENDING;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        return QueryOwnInterface(this, IID_IInternetProtocolSink, riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Switch(PROTOCOLDATA* /*data*/) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ReportProgress(ULONG /*status*/, LPCWSTR /*text*/) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ReportData(DWORD /*flags*/, ULONG /*progress*/, ULONG /*max*/) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ReportResult(HRESULT reported, DWORD /*error*/, LPCWSTR /*text*/) override
    {
        result = reported;
        return S_OK;
    }
};

class BindInfo : public IInternetBindInfo {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        return QueryOwnInterface(this, IID_IInternetBindInfo, riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO* info) override
    {
        *flags = BINDF_ASYNCHRONOUS;
        const ULONG size = info->cbSize;
        ZeroMemory(info, size);
        info->cbSize = size;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBindString(ULONG /*kind*/, LPOLESTR* /*strings*/, ULONG /*count*/,
                                            ULONG* /*fetched*/) override
    {
        return E_NOTIMPL;
    }
};

int Fail(HRESULT result)
{
    std::printf("failed %08lx\n", static_cast<unsigned long>(result));
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    std::string address;
    if (argc != 2 || !DecodeHex(argv[1], &address)) {
        static_cast<void>(std::fputs("usage: read_res_url ADDRESS_HEX\n", stderr));
        return 2;
    }
    // The registry holds the address as code page 936 bytes; the protocol takes it as UTF-16.
    std::wstring wide(address.size() + 1, L'\0');
    const int length = MultiByteToWideChar(CP_ACP, 0, address.c_str(), static_cast<int>(address.size()), wide.data(),
                                           static_cast<int>(wide.size()));
    wide.resize(static_cast<std::size_t>(length));

    if (FAILED(CoInitialize(nullptr))) {
        return Fail(E_FAIL);
    }
    IInternetProtocol* protocol = nullptr;
    HRESULT result = CoCreateInstance(kResProtocol, nullptr, CLSCTX_INPROC_SERVER, IID_IInternetProtocol,
                                      reinterpret_cast<void**>(&protocol));
    if (FAILED(result)) {
        return Fail(result);
    }
    Sink sink;
    BindInfo bindInfo;
    result = protocol->Start(wide.c_str(), &sink, &bindInfo, 0, 0);
    if (FAILED(result) || FAILED(sink.result)) {
        return Fail(FAILED(result) ? result : sink.result);
    }
    std::string page;
    char buffer[4096];
    ULONG read = 0;
    while (SUCCEEDED(result = protocol->Read(buffer, sizeof buffer, &read)) && read > 0) {
        page.append(buffer, read);
        if (result == S_FALSE) {
            break;
        }
    }
    protocol->Terminate(0);
    protocol->Release();
    CoUninitialize();
    std::printf("ok %s\n", EncodeHex(page).c_str());
    return 0;
}
