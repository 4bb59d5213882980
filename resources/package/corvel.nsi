; The Corvel installer: a per-user install without administrator rights by default, or with
; /ALLUSERS a per-machine install for every student of the machine (administrators, or SYSTEM as
; deployment tools run it). Built by scripts/package-windows, which passes:
;   VERSION       the product version, for example 4.11.0
;   STAGE         the folder with corvel.exe, README.txt (and WebView2Loader.dll when shipped)
;   ICON          the application icon
;   OUTFILE       the installer to write
;   SIGN_COMMAND  (optional) a command that signs the file named by its argument in place; the
;                 uninstaller is signed with it before it is packed into the installer
;
; Silent install, per user:      corvel-setup-x64.exe /S
; Silent uninstall, per user:    "%LOCALAPPDATA%\Programs\Corvel\uninstall.exe" /S
; Silent install, per machine:   corvel-setup-x64.exe /S /ALLUSERS
; Silent uninstall, per machine: "%ProgramFiles%\Corvel\uninstall.exe" /S /ALLUSERS
; The silent uninstall keeps the student's data in %LOCALAPPDATA%\Corvel. Per machine, the URL
; scheme and the uninstall entry are in HKLM and the Start-menu shortcut is for all users; the
; player still writes its scheme for the student (HKCU) at each start, which takes precedence.

; A 64-bit installer for the 64-bit player; it runs where the player runs.
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma
SetDateSave on
CRCCheck on

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh

!define PRODUCT "Corvel"
!define PUBLISHER "Nimbra (Talvo)"
!define EXE "corvel.exe"
!define UNINSTALLER "uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Corvel"
; The player writes the same values for its URL scheme at every start.
!define SCHEME_KEY "Software\Classes\corvel"
!define SCHEME_TITLE "Kelmo Desktop Player"

!ifdef SIGN_COMMAND
  !uninstfinalize '${SIGN_COMMAND} "%1"' = 0
!endif

Name "${PRODUCT}"
OutFile "${OUTFILE}"
; Chosen in .onInit by the mode, unless /D= gave a folder.
InstallDir ""
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails nevershow
ShowUninstDetails nevershow

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\${EXE}"
!define MUI_FINISHPAGE_RUN_NOTCHECKED

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The first language is the fallback; the user's display language picks the other.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Arabic"

LangString ShortcutComment ${LANG_ENGLISH} "Online lessons of your platform"
LangString ShortcutComment ${LANG_ARABIC} "دروس منصتك عبر الإنترنت"
LangString NeedsAdmin ${LANG_ENGLISH} "Installing Corvel for all users of this computer needs administrator rights."
LangString NeedsAdmin ${LANG_ARABIC} "يحتاج تثبيت Corvel لجميع مستخدمي هذا الحاسوب إلى صلاحيات المسؤول."
LangString RemoveUserData ${LANG_ENGLISH} "Also delete Corvel's saved data (sign-ins, cookies and cache) in $LOCALAPPDATA\Corvel?"
LangString RemoveUserData ${LANG_ARABIC} "هل تريد أيضاً حذف بيانات Corvel المحفوظة (تسجيلات الدخول وملفات تعريف الارتباط وذاكرة التخزين المؤقت) في $LOCALAPPDATA\Corvel؟"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "${PUBLISHER}"

; 1 with /ALLUSERS: every path and registry value below is the machine's (SHCTX is HKLM).
Var AllUsers

!macro ChooseMode UN
Function ${UN}ChooseMode
  StrCpy $AllUsers 0
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/ALLUSERS" $R1
  ${IfNot} ${Errors}
    UserInfo::GetAccountType
    Pop $R2
    ${If} $R2 != "Admin"
      MessageBox MB_ICONSTOP "$(NeedsAdmin)" /SD IDOK
      SetErrorLevel 740  ; ERROR_ELEVATION_REQUIRED
      Quit
    ${EndIf}
    StrCpy $AllUsers 1
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
  ${EndIf}
FunctionEnd
!macroend
!insertmacro ChooseMode ""
!insertmacro ChooseMode "un."

Function .onInit
  Call ChooseMode
  ${If} $INSTDIR == ""
    ${If} $AllUsers == 1
      StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
    ${Else}
      StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${PRODUCT}"
    ${EndIf}
  ${EndIf}
FunctionEnd

Function un.onInit
  Call un.ChooseMode
FunctionEnd

Section "Corvel"
  SetOutPath "$INSTDIR"
  File "${STAGE}\${EXE}"
  File "${STAGE}\README.txt"
!if /FileExists "${STAGE}\WebView2Loader.dll"
  File "${STAGE}\WebView2Loader.dll"
!endif
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0 SW_SHOWNORMAL "" "$(ShortcutComment)"

  ; The platform's links work before the player's first start.
  WriteRegStr SHCTX "${SCHEME_KEY}" "" "${SCHEME_TITLE}"
  WriteRegStr SHCTX "${SCHEME_KEY}" "URL Protocol" ""
  WriteRegStr SHCTX "${SCHEME_KEY}\DefaultIcon" "" "$INSTDIR\${EXE},1"
  WriteRegStr SHCTX "${SCHEME_KEY}\shell\open\command" "" '"$INSTDIR\${EXE}" "%1"'

  ; The uninstaller is told the mode it must run in.
  StrCpy $1 ""
  ${If} $AllUsers == 1
    StrCpy $1 " /ALLUSERS"
  ${EndIf}
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${EXE},0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"$1'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S$1'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Section "Uninstall"
  Delete "$INSTDIR\${EXE}"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\WebView2Loader.dll"
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"

  ; The scheme may belong to another copy of the player by now; only ours is removed.
  ReadRegStr $0 SHCTX "${SCHEME_KEY}\shell\open\command" ""
  StrCmp $0 '"$INSTDIR\${EXE}" "%1"' 0 scheme_done
    DeleteRegKey SHCTX "${SCHEME_KEY}"
  scheme_done:

  DeleteRegKey SHCTX "${UNINSTALL_KEY}"

  ; The students' own data stays with their profiles when the machine's copy goes.
  StrCmp $AllUsers 1 data_done
  IfFileExists "$LOCALAPPDATA\Corvel\*.*" 0 data_done
    MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "$(RemoveUserData)" /SD IDNO IDNO data_done
    RMDir /r "$LOCALAPPDATA\Corvel"
  data_done:
SectionEnd
