; The Windows installer: both programs and the README under Program Files, a Start menu entry, an uninstaller.
; makensis -DVERSION=x.y.z -DSTAGE=<folder with the files> -DOUTFILE=<installer.exe> installer.nsi
Unicode true
Name "Phone Flash Updater ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Phone Flash Updater"
RequestExecutionLevel admin
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Install"
  SetOutPath "$INSTDIR"
  File "${STAGE}\phone-updater.exe"
  File "${STAGE}\phone-updater-cli.exe"
  File "${STAGE}\README.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Phone Flash Updater.lnk" "$INSTDIR\phone-updater.exe"
SectionEnd

Section "Uninstall"
  Delete "$SMPROGRAMS\Phone Flash Updater.lnk"
  Delete "$INSTDIR\phone-updater.exe"
  Delete "$INSTDIR\phone-updater-cli.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
