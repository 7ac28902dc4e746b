; The Windows installer: both programs and the README under Program Files, a Start menu entry for every user,
; an entry in Apps & Features with its uninstaller; 64-bit Windows only.
; makensis -DVERSION=x.y.z -DSTAGE=<folder with the files> -DOUTFILE=<installer.exe> installer.nsi
; The installer itself is a 32-bit program, so that on a 32-bit Windows it can say why it stops; -DTARGET=
; amd64-unicode builds it as a 64-bit one (for a Wine without 32-bit support).
Unicode true
!ifdef TARGET
  Target ${TARGET}
!endif
!include x64.nsh
!include FileFunc.nsh

!define PRODUCT "Phone Flash Updater"
!define PUBLISHER "The Updater Team"
; Apps & Features lists the programs of this key (in the 64-bit view of the registry).
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\PhoneFlashUpdater"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
RequestExecutionLevel admin
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "2026 ${PUBLISHER}; free to use and share"
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The programs are 64-bit: on 32-bit Windows they would not start at all.
Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "${PRODUCT} needs a 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Install"
  SetOutPath "$INSTDIR"
  File "${STAGE}\phone-updater.exe"
  File "${STAGE}\phone-updater-cli.exe"
  File "${STAGE}\README.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\phone-updater.exe"
  ; Earlier versions put the shortcut in the installing user's own Start menu only.
  SetShellVarContext current
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  SetShellVarContext all

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\phone-updater.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$INSTDIR\phone-updater.exe"
  Delete "$INSTDIR\phone-updater-cli.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
