// The broker as the player meets it: COM starts glinthost.exe from the
// registration, and every call crosses into that process.
#include <windows.h>

#include <shlobj.h>

#include <gtest/gtest.h>

#include "BrokerTestSupport.h"
#include "WineTestSupport.h"

namespace {

class BrokerCrossProcess : public BrokerSuite {
 protected:
  void TearDown() override {
    if (!WaitUntilGone(kServer, 15000)) KillAll(kServer);  // each test leaves no server
    // The icon method, called with empty arguments, made the icon cache.
    const std::wstring arvex = KnownFolder(CSIDL_APPDATA) + L"\\Arvex";
    for (const wchar_t* folder : {L"\\Glint Player\\Icon Cache", L"\\Glint Player", L""})
      RemoveDirectoryW((arvex + folder).c_str());
  }
};

// One server serves every object and every slot, late-bound calls reach the
// first two interfaces only, and the last release ends it. (Which interfaces
// an object answers is checked in-process.)
TEST_F(BrokerCrossProcess, OneServerAnswersEveryCallUntilTheLastRelease) {
  ASSERT_TRUE(ProcessesNamed(kServer).empty());
  IGlintBroker6 *broker = nullptr, *second = nullptr;
  ASSERT_EQ(CreateBroker(&broker), S_OK);
  ASSERT_EQ(CreateBroker(&second), S_OK);
  EXPECT_EQ(ProcessesNamed(kServer).size(), 1u);
  second->Release();

  ComRef<IDispatch> dispatch;
  ASSERT_HRESULT_SUCCEEDED(broker->QueryInterface(IID_IDispatch, dispatch.Receive()));
  LPOLESTR name = const_cast<LPOLESTR>(L"BrokerDelayScreensaver");
  DISPID id = 0;
  ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
  EXPECT_EQ(id, 0x60030000);
  DISPPARAMS none{};
  EXCEPINFO exception{};
  HRESULT hr =
      dispatch->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, &exception, nullptr);
  // The method's own answer comes back, directly or as the exception's code.
  EXPECT_FALSE(IsTransportFailure(hr)) << Hex(hr);
  if (hr == DISP_E_EXCEPTION) {
    EXPECT_NE(exception.scode, 0);
  }
  for (BSTR text : {exception.bstrSource, exception.bstrDescription, exception.bstrHelpFile})
    SysFreeString(text);
  dispatch.Reset();

  BrokerTypes types(ProgramFolder() + L"\\glinthost.exe");
  ASSERT_TRUE(types.Loaded());
  int slot = 7;
  for (const BrokerMethodInfo& method : types.Methods()) {
    ASSERT_EQ(method.vtableOffset, slot++ * 8);
    HRESULT answer = CallWithHarmlessArguments(broker, method, false);
    EXPECT_FALSE(IsTransportFailure(answer)) << Utf8Of(method.name.c_str()) << " " << Hex(answer);
  }
  EXPECT_EQ(ProcessesNamed(kServer).size(), 1u);  // it lived through all of it
  broker->Release();
  EXPECT_TRUE(WaitUntilGone(kServer, 5000));
}

// Only broker objects and server locks keep the server: a refused older
// interface ends a lone server, a client holding the class object does not keep
// it. (Locks and aggregation stop at a class-object proxy: covered in-process.)
TEST_F(BrokerCrossProcess, OnlyObjectsKeepTheServer) {
  IUnknown* object = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_GlintBrokerImp6, nullptr, CLSCTX_LOCAL_SERVER, IID_IGlintBroker5,
                             reinterpret_cast<void**>(&object)),
            E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_TRUE(WaitUntilGone(kServer, 5000));
  ComRef<IClassFactory> factory;
  ASSERT_HRESULT_SUCCEEDED(CoGetClassObject(CLSID_GlintBrokerImp6, CLSCTX_LOCAL_SERVER, nullptr,
                                            IID_IClassFactory, factory.Receive()));
  ComRef<IGlintBroker6> broker;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IGlintBroker6, broker.Receive()), S_OK);
  broker.Reset();
  EXPECT_TRUE(WaitUntilGone(kServer, 5000));
}

}  // namespace
