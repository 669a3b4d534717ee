; The Windows installer: korvel-setup-<version>-x64.exe, made by
; scripts/package-windows with Debian's makensis from the files that
; "cmake --install" laid out for the Windows build.
;   makensis -DVERSION=1.64.0.44 -DSTAGE=<install prefix> -DICON=<korvel.ico>
;            -DOUTFILE=<setup.exe> korvel.nsi
; Per machine, in Program Files: korvel.exe, korvel-cli.exe, the Qt DLLs and
; plug-ins, the MinGW runtime, the manual; a Start-menu entry, .pr2 files open
; in the window, and an uninstaller listed in the system's Apps. /S installs
; and uninstalls silently.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "x64.nsh"

!define PRODUCT "Korvel"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvel"
!define PROG_ID "Korvel.Package"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "FileDescription" "Korvel firmware programmer setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Korvel maintainers"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  ; Every user's: the shortcuts in the common Start menu, the registry in HKLM
  ; (its 64-bit view).
  SetShellVarContext all
  SetRegView 64
FunctionEnd

Function un.onInit
  SetShellVarContext all
  SetRegView 64
FunctionEnd

Section "Korvel"
  SetOutPath "$INSTDIR"
  File "${STAGE}\bin\korvel.exe"
  File "${STAGE}\bin\korvel-cli.exe"
  File "${STAGE}\bin\*.dll"
  SetOutPath "$INSTDIR\platforms"
  File "${STAGE}\bin\platforms\*.dll"
  SetOutPath "$INSTDIR\styles"
  File "${STAGE}\bin\styles\*.dll"
  SetOutPath "$INSTDIR\imageformats"
  File "${STAGE}\bin\imageformats\*.dll"
  SetOutPath "$INSTDIR"
  File "/oname=Korvel manual.txt" "${STAGE}\share\doc\korvel\README.md"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortcut "$SMPROGRAMS\Korvel.lnk" "$INSTDIR\korvel.exe"
  CreateShortcut "$SMPROGRAMS\Korvel manual.lnk" "$INSTDIR\Korvel manual.txt"

  ; A double-click on a .pr2 file opens it in the window.
  WriteRegStr HKLM "Software\Classes\.pr2" "" "${PROG_ID}"
  WriteRegStr HKLM "Software\Classes\${PROG_ID}" "" "Korvel firmware package"
  WriteRegStr HKLM "Software\Classes\${PROG_ID}\DefaultIcon" "" "$INSTDIR\korvel.exe,0"
  WriteRegStr HKLM "Software\Classes\${PROG_ID}\shell\open\command" "" '"$INSTDIR\korvel.exe" "%1"'

  ; Listed in Apps, with its uninstaller.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\korvel.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  Delete "$SMPROGRAMS\Korvel.lnk"
  Delete "$SMPROGRAMS\Korvel manual.lnk"
  ReadRegStr $0 HKLM "Software\Classes\.pr2" ""
  StrCmp $0 "${PROG_ID}" 0 +2
    DeleteRegKey HKLM "Software\Classes\.pr2"
  DeleteRegKey HKLM "Software\Classes\${PROG_ID}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  Delete "$INSTDIR\korvel.exe"
  Delete "$INSTDIR\korvel-cli.exe"
  Delete "$INSTDIR\*.dll"
  RMDir /r "$INSTDIR\platforms"
  RMDir /r "$INSTDIR\styles"
  RMDir /r "$INSTDIR\imageformats"
  Delete "$INSTDIR\Korvel manual.txt"
  ; A settings file beside the program (a folder its users may write).
  Delete "$INSTDIR\korvel.ini"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
