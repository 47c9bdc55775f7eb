// The broker object: the one COM object the sandboxed player talks to. Its
// single table is the dual interface IGlintBroker6 (slots 0-2 IUnknown, 3-6
// IDispatch, 7-108 the broker methods); COM delivers every call on the
// server's single-threaded apartment, so methods never run concurrently.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <atomic>

#include <memory>
#include <string>
#include <vector>

#include "broker/files/FileCookie.h"
#include "broker/GlintBroker.h"
#include "broker/localconnection/LcdAccessorWin32.h"
#include "broker/policy/PlayerPaths.h"
#include "broker/services/GdiHandleTable.h"
#include "broker/services/MMNotificationClient.h"
#include "foundation/DynamicLoadLibraryHelper.h"

class EnterpriseIds;
class HostCallbacks;
struct IMultiLanguage;
struct IMLangFontLink;

// Lets go of what broker objects share; run when the server ends.
void ReleaseSharedBrokerState();

class CoGlintBrokerServer final : public IGlintBroker6 {
 public:
  class Factory;

  explicit CoGlintBrokerServer(HostCallbacks* host);
  CoGlintBrokerServer(const CoGlintBrokerServer&) = delete;
  CoGlintBrokerServer& operator=(const CoGlintBrokerServer&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch, through IGlintBroker2's type information
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID iid, LCID lcid, WORD flags,
                                   DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                   UINT* argumentError) override;

  // The broker methods, slots 7 to 108.
  HRESULT STDMETHODCALLTYPE BrokerCreateFile(BSTR pFileName, LONG p_readOnly, LONG p_truncateOnOpen,
                                             ULONG* p_fileCookie) override;  // 7
  HRESULT STDMETHODCALLTYPE BrokerCloseHandle(ULONG p_fileCookie) override;  // 8
  HRESULT STDMETHODCALLTYPE BrokerSetFilePointer(ULONG p_fileCookie, LONG p_distanceToMove,
                                                 ULONG p_moveMethod,
                                                 ULONG* p_newPosition) override;  // 9
  HRESULT STDMETHODCALLTYPE BrokerReadFile(ULONG p_fileCookie, ULONG p_numToRead, ULONG* p_numRead,
                                           SAFEARRAY** p_data) override;  // 10
  HRESULT STDMETHODCALLTYPE BrokerWriteFile(ULONG p_fileCookie, SAFEARRAY* p_data,
                                            ULONG* p_numWritten) override;   // 11
  HRESULT STDMETHODCALLTYPE BrokerDeleteFile(BSTR p_fileName) override;      // 12
  HRESULT STDMETHODCALLTYPE BrokerRemoveDirectory(BSTR p_dirName) override;  // 13
  HRESULT STDMETHODCALLTYPE BrokerMoveFileEx(BSTR p_oldFileName, BSTR p_newFileName,
                                             LONG dwFlags) override;         // 14
  HRESULT STDMETHODCALLTYPE BrokerCreateDirectory(BSTR p_dirName) override;  // 15
  HRESULT STDMETHODCALLTYPE BrokerGetFileAttributesEx(
      BSTR p_fileName, ULONG* p_dwFileAttributes, ULONG* p_ftCreationTimeLo,
      ULONG* p_ftCreationTimeHi, ULONG* p_ftLastAccessTimeLo, ULONG* p_ftLastAccessTimeHi,
      ULONG* p_ftLastWriteTimeLo, ULONG* p_ftLastWriteTimeHi, ULONG* p_nFileSizeLo,
      ULONG* p_nFileSizeHi) override;  // 16
  HRESULT STDMETHODCALLTYPE BrokerFindFirstFile(BSTR p_searchPath, BSTR* p_fileLeafName,
                                                ULONG* p_fileAttrs,
                                                ULONG* p_findCookie) override;  // 17
  HRESULT STDMETHODCALLTYPE BrokerFindNextFile(ULONG p_findCookie, BSTR* p_fileLeafName,
                                               ULONG* p_fileAttrs) override;  // 18
  HRESULT STDMETHODCALLTYPE BrokerFindClose(ULONG p_findCookie) override;     // 19
  HRESULT STDMETHODCALLTYPE BrokerLcdLock(LONG* p_refCount) override;         // 20
  HRESULT STDMETHODCALLTYPE BrokerLcdUnlock(LONG* p_refCount) override;       // 21
  HRESULT STDMETHODCALLTYPE BrokerLcdLockTime(LONG* p_lockTime) override;     // 22
  HRESULT STDMETHODCALLTYPE BrokerLcdFindConnectionFormat(BSTR p_string, ULONG p_realm,
                                                          LONG* p_format) override;            // 23
  HRESULT STDMETHODCALLTYPE BrokerLcdRemoveConnection(BSTR p_string, ULONG p_realm) override;  // 24
  HRESULT STDMETHODCALLTYPE BrokerLcdTryAddConnection(BSTR p_string, ULONG p_realmToSeek,
                                                      ULONG p_realmToAdd,
                                                      LONG p_msgFormatVersion) override;  // 25
  HRESULT STDMETHODCALLTYPE BrokerLcdGetMessageTarget(BSTR* p_string) override;           // 26
  HRESULT STDMETHODCALLTYPE BrokerLcdDispatchMessage(SAFEARRAY* p_msgData, ULONG p_senderGmvVersion,
                                                     ULONG p_expectedMsgFormat,
                                                     ULONG p_realm) override;         // 27
  HRESULT STDMETHODCALLTYPE BrokerLcdClearMessage() override;                         // 28
  HRESULT STDMETHODCALLTYPE BrokerLcdPruneDeadMessage() override;                     // 29
  HRESULT STDMETHODCALLTYPE BrokerLcdGetMessageData(SAFEARRAY** p_msgData) override;  // 30
  HRESULT STDMETHODCALLTYPE
  BrokerPrefGetAndDeleteGlintPlayerVersion(BSTR* p_string) override;                         // 31
  HRESULT STDMETHODCALLTYPE BrokerPrefMarkAutoUpdaterForRun(BSTR p_xmlFromServer) override;  // 32
  HRESULT STDMETHODCALLTYPE BrokerPrefGetExceptionDialogSize(ULONG* p_width,
                                                             ULONG* p_height) override;  // 33
  HRESULT STDMETHODCALLTYPE BrokerPrefSetExceptionDialogSize(ULONG p_width,
                                                             ULONG p_height) override;     // 34
  HRESULT STDMETHODCALLTYPE BrokerLMOpenDownload(BSTR p_url, ULONG* p_lmCookie) override;  // 35
  HRESULT STDMETHODCALLTYPE BrokerLMUpdateDownload(ULONG p_lmCookie, ULONG* p_pos,
                                                   ULONG* p_len) override;  // 36
  HRESULT STDMETHODCALLTYPE BrokerLMCloseDownload(ULONG p_lmCookie, BSTR p_applicationName,
                                                  ULONG* p_resultCode) override;  // 37
  HRESULT STDMETHODCALLTYPE BrokerLMLaunch(BSTR p_applicationName,
                                           BSTR p_applicationParams) override;  // 38
  HRESULT STDMETHODCALLTYPE BrokerLMGetVersion(BSTR p_applicationName, ULONG* p_fileVersionMS,
                                               ULONG* p_fileVersionLS) override;       // 39
  HRESULT STDMETHODCALLTYPE BrokerLMIsRunning(BSTR p_applicationName) override;        // 40
  HRESULT STDMETHODCALLTYPE BrokerDelayScreensaver() override;                         // 41
  HRESULT STDMETHODCALLTYPE BrokerPrefGetGlintPlayerVersion(BSTR* p_string) override;  // 42
  HRESULT STDMETHODCALLTYPE BrokerPrefDeleteGlintPlayerVersion() override;             // 43
  HRESULT STDMETHODCALLTYPE BrokerSaveDialog(ULONG p_hwnd, LPWSTR p_lpwstrInitialFileName,
                                             ULONG* p_fileCookie,
                                             BSTR* p_chosenFilePath) override;  // 44
  HRESULT STDMETHODCALLTYPE BrokerOpenDialog(ULONG p_hwnd, ULONG dwFilterPairs,
                                             ULONG dwFilterLength, SAFEARRAY* p_FilterArray,
                                             ULONG dwFlags,
                                             VARIANT* p_chosenFilePathArray) override;  // 45
  HRESULT STDMETHODCALLTYPE BrokerPrintDialog(ULONG p_hwnd, ULONG* p_nFromPage, ULONG* p_nToPage,
                                              ULONG* p_dwFlags, ULONG* p_hdc) override;  // 46
  HRESULT STDMETHODCALLTYPE BrokerDeleteDC(ULONG dwHDC, ULONG* p_dwRC) override;         // 47
  HRESULT STDMETHODCALLTYPE BrokerSaveDC(ULONG dwHDC, ULONG* p_dwState) override;        // 48
  HRESULT STDMETHODCALLTYPE BrokerRestoreDC(ULONG dwHDC, ULONG dwSavedDC) override;      // 49
  HRESULT STDMETHODCALLTYPE BrokerStartDoc(ULONG dwHDC, ULONG* p_pixelWidth, ULONG* p_pixelHeight,
                                           ULONG* p_deviceWidth, ULONG* p_deviceHeight,
                                           ULONG* p_paperPixelWidth, ULONG* p_paperPixelHeight,
                                           ULONG* p_hRes, ULONG* p_vRes) override;  // 50
  HRESULT STDMETHODCALLTYPE BrokerStartPage(ULONG dwHDC) override;                  // 51
  HRESULT STDMETHODCALLTYPE BrokerAddRectangle(ULONG dwHDC, SAFEARRAY* p_RectArray,
                                               ULONG dwRGB) override;  // 52
  HRESULT STDMETHODCALLTYPE BrokerIntersectClipRect(ULONG dwHDC, ULONG dwLeft, ULONG dwTop,
                                                    ULONG dwRight, ULONG dwBottom,
                                                    ULONG* p_dwRC) override;  // 53
  HRESULT STDMETHODCALLTYPE BrokerSetPolyFillMode(ULONG dwHDC, ULONG dwMode,
                                                  ULONG* p_dwRC) override;             // 54
  HRESULT STDMETHODCALLTYPE BrokerBeginPath(ULONG dwHDC) override;                     // 55
  HRESULT STDMETHODCALLTYPE BrokerEndPath(ULONG dwHDC) override;                       // 56
  HRESULT STDMETHODCALLTYPE BrokerMoveTo(ULONG dwHDC, ULONG dwX, ULONG dwY) override;  // 57
  HRESULT STDMETHODCALLTYPE BrokerLineTo(ULONG dwHDC, ULONG dwDeltaX,
                                         ULONG dwDeltaY) override;                     // 58
  HRESULT STDMETHODCALLTYPE BrokerPathToSolidFill(ULONG dwHDC, ULONG dwRGB) override;  // 59
  HRESULT STDMETHODCALLTYPE BrokerEndPage(ULONG dwHDC) override;                       // 60
  HRESULT STDMETHODCALLTYPE BrokerEndDoc(ULONG dwHDC) override;                        // 61
  HRESULT STDMETHODCALLTYPE BrokerPathToBitmapFill(ULONG dwHDC, SAFEARRAY* p_tRectArray,
                                                   SAFEARRAY* p_sRectArray,
                                                   SAFEARRAY* p_BitmapArray,
                                                   SAFEARRAY* p_BitmapInfoArray,
                                                   ULONG dwSaveRestore) override;  // 62
  HRESULT STDMETHODCALLTYPE BrokerPathToTransparentBitmapFill(
      ULONG dwHDC, SAFEARRAY* p_tRectArray, SAFEARRAY* p_sRectArray, SAFEARRAY* p_BitmapArray,
      SAFEARRAY* p_BitmapInfoArray, ULONG dwRGB, ULONG dwROP) override;  // 63
  HRESULT STDMETHODCALLTYPE BrokerPolyBezierTo(ULONG dwHDC, SAFEARRAY* p_CubicArray,
                                               ULONG dwCount) override;  // 64
  HRESULT STDMETHODCALLTYPE BrokerPathToStrokedLine(ULONG dwHDC, ULONG dwThickness,
                                                    ULONG dwRGB) override;             // 65
  HRESULT STDMETHODCALLTYPE BrokerSelectClipPath(ULONG dwHDC, ULONG dwMode) override;  // 66
  HRESULT STDMETHODCALLTYPE BrokerGetTextAlign(ULONG dwHDC, ULONG* p_dwRC) override;   // 67
  HRESULT STDMETHODCALLTYPE BrokerSetTextAlign(ULONG dwHDC, ULONG dwAlign,
                                               ULONG* p_dwRC) override;            // 68
  HRESULT STDMETHODCALLTYPE BrokerGetBkMode(ULONG dwHDC, ULONG* p_dwRC) override;  // 69
  HRESULT STDMETHODCALLTYPE BrokerSetBkMode(ULONG dwHDC, ULONG dwMode,
                                            ULONG* p_dwRC) override;                  // 70
  HRESULT STDMETHODCALLTYPE BrokerGetTextColor(ULONG dwHDC, ULONG* p_dwRC) override;  // 71
  HRESULT STDMETHODCALLTYPE BrokerSetTextColor(ULONG dwHDC, ULONG dwColor,
                                               ULONG* p_dwRC) override;  // 72
  HRESULT STDMETHODCALLTYPE BrokerGetDeviceCaps(ULONG dwHDC, ULONG dwIndex,
                                                ULONG* p_dwRC) override;  // 73
  HRESULT STDMETHODCALLTYPE BrokerDPtoLP(ULONG dwHDC, ULONG* p_dwX, ULONG* p_dwY, ULONG dwCount,
                                         ULONG* p_dwRC) override;  // 74
  HRESULT STDMETHODCALLTYPE BrokerCreateFontIndirect(SAFEARRAY* p_LogFontArray,
                                                     ULONG* p_dwFont) override;             // 75
  HRESULT STDMETHODCALLTYPE BrokerGetObjectType(ULONG dwHandle, ULONG* p_dwType) override;  // 76
  HRESULT STDMETHODCALLTYPE BrokerGetCurrentObject(ULONG dwHDC, ULONG dwObjectType,
                                                   ULONG* p_dwHGDIObj) override;  // 77
  HRESULT STDMETHODCALLTYPE BrokerSelectObject(ULONG dwHDC, ULONG dwHGDI,
                                               ULONG* p_dwHGDIOld) override;             // 78
  HRESULT STDMETHODCALLTYPE BrokerDeleteObject(ULONG dwHandle, ULONG* p_dwRC) override;  // 79
  HRESULT STDMETHODCALLTYPE BrokerExtTextOutA(ULONG dwHDC, ULONG dwX, ULONG dwY, ULONG dwOptions,
                                              ULONG dwIsRectNULL, SAFEARRAY* p_RectArray,
                                              SAFEARRAY* p_StrArray, ULONG dwCount,
                                              ULONG dwIsDxNULL, SAFEARRAY* p_DxArray,
                                              ULONG* p_dwRC) override;  // 80
  HRESULT STDMETHODCALLTYPE BrokerExtTextOutW(ULONG dwHDC, ULONG dwX, ULONG dwY, ULONG dwOptions,
                                              ULONG dwIsRectNULL, SAFEARRAY* p_RectArray,
                                              SAFEARRAY* p_StrArray, ULONG dwCount,
                                              ULONG dwIsDxNULL, SAFEARRAY* p_DxArray,
                                              ULONG* p_dwRC) override;  // 81
  HRESULT STDMETHODCALLTYPE BrokerGetTextMetrics(ULONG dwHDC,
                                                 VARIANT* p_VarTextmetricArray) override;  // 82
  HRESULT STDMETHODCALLTYPE BrokerGetTextExtentPoint32A(ULONG dwHDC, SAFEARRAY* p_StrArray,
                                                        ULONG dwCount, ULONG* p_dwCx,
                                                        ULONG* p_dwCy) override;  // 83
  HRESULT STDMETHODCALLTYPE BrokerGetTextExtentPoint32W(ULONG dwHDC, SAFEARRAY* p_StrArray,
                                                        ULONG dwCount, ULONG* p_dwCx,
                                                        ULONG* p_dwCy) override;  // 84
  HRESULT STDMETHODCALLTYPE BrokerSetTextCharacterExtra(ULONG dwHDC, ULONG dwCharExtra,
                                                        ULONG* p_dwRC) override;           // 85
  HRESULT STDMETHODCALLTYPE BrokerSelectClipRgnNULL(ULONG dwHDC, ULONG* p_dwRC) override;  // 86
  HRESULT STDMETHODCALLTYPE BrokerGetWorldTransform(ULONG dwHDC,
                                                    VARIANT* p_VarXformArray) override;  // 87
  HRESULT STDMETHODCALLTYPE BrokerSetWorldTransform(ULONG dwHDC, SAFEARRAY* p_XformArray,
                                                    ULONG* p_dwRC) override;  // 88
  HRESULT STDMETHODCALLTYPE BrokerSetGraphicsMode(ULONG dwHDC, ULONG dwMode,
                                                  ULONG* p_dwRC) override;  // 89
  HRESULT STDMETHODCALLTYPE BrokerIMLangFontLinkMapFont(ULONG dwDC, ULONG dwCodePages,
                                                        ULONG dwhSrcFont,
                                                        ULONG* p_dwhDestFont) override;  // 90
  HRESULT STDMETHODCALLTYPE BrokerIMLangFontLinkGetFontCodePages(
      ULONG dwDC, ULONG dwhFont, ULONG* p_dwCodePages) override;                      // 91
  HRESULT STDMETHODCALLTYPE BrokerIMLangFontLinkReleaseFont(ULONG dwhFont) override;  // 92
  HRESULT STDMETHODCALLTYPE BrokerLcdMessageTimeout(LONG* p_timeout) override;        // 93
  HRESULT STDMETHODCALLTYPE BrokerMarkFileUnsafe(BSTR p_filePath, BSTR p_sourceURL,
                                                 BSTR p_refURL) override;                      // 94
  HRESULT STDMETHODCALLTYPE BrokerCreateIconPath(BSTR p_fileName, BSTR* p_iconPath) override;  // 95
  HRESULT STDMETHODCALLTYPE BrokerCreateInternetShortcut(BSTR fileName, BSTR url, BSTR iconPath,
                                                         SAFEARRAY* p_signed_auth_data,
                                                         SAFEARRAY* p_strings,
                                                         ULONG flags) override;         // 96
  HRESULT STDMETHODCALLTYPE BrokerGetDirectInputCount(ULONG* p_count) override;         // 97
  HRESULT STDMETHODCALLTYPE BrokerIsDriveAvailable(LPWSTR p_lpwRootPathName) override;  // 98
  HRESULT STDMETHODCALLTYPE BrokerSaveDialog2(ULONG p_hwnd, LPWSTR p_lpwstrInitialFileName,
                                              ULONG dwFilterPairs, ULONG dwFilterLength,
                                              SAFEARRAY* p_FilterArray, ULONG dwFlags,
                                              ULONG* p_fileCookie,
                                              BSTR* p_chosenFilePath) override;  // 99
  HRESULT STDMETHODCALLTYPE BrokerIsWritablePath(BSTR p_path,
                                                 LONG p_alsoCheckExtension) override;  // 100
  HRESULT STDMETHODCALLTYPE BrokerCreateIconPathV2(BSTR p_fileName, BSTR* p_iconPath,
                                                   LONG p_overwrite) override;  // 101
  HRESULT STDMETHODCALLTYPE BrokerCreateDesktopShortcut(BSTR fileName, BSTR url, BSTR iconPath,
                                                        ULONG flags) override;  // 102
  HRESULT STDMETHODCALLTYPE BrokerOpenFileWithAuditingInfo(BSTR pFileName, BSTR pRemoteUrl,
                                                           ULONG p_hwnd,
                                                           ULONG* p_fileCookie) override;  // 103
  HRESULT STDMETHODCALLTYPE BrokerDeleteBrowsingHistory(BSTR pRootPathName) override;      // 104
  HRESULT STDMETHODCALLTYPE BrokerMMNotificationClientCreate(
      LONG_PTR sourceProcessHandle, LONG_PTR* lpClientCookie) override;  // 105
  HRESULT STDMETHODCALLTYPE BrokerMMNotificationClientSetDefaultDeviceChangeEvent(
      LONG_PTR clientCookie, LONG_PTR defaultDeviceChangeEvent) override;  // 106
  HRESULT STDMETHODCALLTYPE BrokerMMNotificationClientSetDeviceStateChangeEvent(
      LONG_PTR clientCookie, LONG_PTR deviceStateChangeEvent) override;  // 107
  HRESULT STDMETHODCALLTYPE
  BrokerMMNotificationClientDestroy(LONG_PTR clientCookie) override;  // 108

  HostCallbacks* Host() const { return host_; }
  PlayerPaths& Paths() { return paths_; }
  CookieTable& Cookies() { return cookies_; }

 private:
  ~CoGlintBrokerServer();

  // Installs a downloaded package (or manifest) under an add-in's name;
  // answers the installation's result code.
  ULONG Install(DownloadState& download, const std::u16string& name);

  // A file cookie, after carrying out its pending open if it has one.
  FileCookie* OpenedCookie(ULONG cookie);
  // The player's path argument, expanded; nothing for a malformed one.
  std::optional<std::wstring> PlayerPath(BSTR path);

  std::atomic<LONG> references_{1};
  ITypeInfo* typeInfo_ = nullptr;
  Advapi32DllHelper advapi32_;
  PlayerPaths paths_{true};
  CookieTable cookies_;
  HostCallbacks* host_;
  std::shared_ptr<EnterpriseIds> processIds_;
  IMultiLanguage* multiLanguage_ = nullptr;
  IMLangFontLink* fontLink_ = nullptr;
  static Edpwin32DllHelper& SharedEdpwin32();
  Edpwin32DllHelper& edpwin32_ = SharedEdpwin32();
  // The identity library, loaded once for the object's calls: loading a
  // library that is absent searches the system folders each time.
  SrpapiDllHelper srpapi_;
  // Local connections: made by the first call that needs it.
  Win32LcdAccessor* Lcd();
  std::unique_ptr<Win32LcdAccessor> lcdAccessor_;
  // Audio notification clients; those still listed go with the object.
  MMNotificationClientTable audioClients_;
  // Printing: the GDI handle numbers this object may use. Its DCs, fonts
  // and font mappings go with it.
  GdiHandleTable gdiHandles_;
  void ReleasePrintObjects();
  // Records an object the player's DC returned, usable from now on.
  void NoteReturnedObject(ULONG dc, HGDIOBJ object);
  // Whether one of this object's DCs has the object selected.
  bool SelectedInOwnDc(ULONG object);
  // The narrow and wide forms of the text output and extent methods.
  HRESULT TextOutput(bool wide, ULONG dwHDC, ULONG dwX, ULONG dwY, ULONG dwOptions,
                     ULONG dwIsRectNULL, SAFEARRAY* p_RectArray, SAFEARRAY* p_StrArray,
                     ULONG dwCount, ULONG dwIsDxNULL, SAFEARRAY* p_DxArray, ULONG* p_dwRC);
  HRESULT TextMeasure(bool wide, ULONG dwHDC, SAFEARRAY* p_StrArray, ULONG dwCount, ULONG* p_dwCx,
                      ULONG* p_dwCy);
  // Paths the user chose in this object's open and save dialogs.
  std::vector<std::wstring> dialogPaths_;
};
