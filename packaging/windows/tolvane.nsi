; TOLVANE's Windows installer: per machine, under Program Files, with a Start-menu entry for the
; window and an entry in Apps & features. packaging/windows/package.sh runs it with
;   makensis -DVERSION=0.1.0 -DVERSION_NUMBERS=0.1.0.0 -DPUBLISHER=... -DCOPYRIGHT=...
;            -DSTAGE=DIR -DICON=FILE -DOUTFILE=FILE tolvane.nsi
; Silent: setup.exe /S installs, "uninstall.exe" /S removes.

; A 64-bit installer: the programs are x64, and Windows itself refuses it on a 32-bit system.
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestSupportedOS all
ManifestDPIAware true
RequestExecutionLevel admin

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\TOLVANE"

Name "TOLVANE"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\TOLVANE"
; A new version goes where the last one was.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" InstallLocation
BrandingText "TOLVANE ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion ${VERSION_NUMBERS}
VIFileVersion ${VERSION_NUMBERS}
VIAddVersionKey /LANG=0 ProductName "TOLVANE"
VIAddVersionKey /LANG=0 ProductVersion "${VERSION}"
VIAddVersionKey /LANG=0 FileVersion "${VERSION}"
VIAddVersionKey /LANG=0 FileDescription "TOLVANE ${VERSION} setup"
VIAddVersionKey /LANG=0 CompanyName "${PUBLISHER}"
VIAddVersionKey /LANG=0 LegalCopyright "${COPYRIGHT}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_LICENSE "${STAGE}/LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\tolvane.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start TOLVANE"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The one list of installed files, for the installer and the uninstaller alike.
!macro TolvaneFiles Action
  !insertmacro ${Action} tolvane.exe
  !insertmacro ${Action} tolvane-cli.exe
  !insertmacro ${Action} README.txt
  !insertmacro ${Action} LICENSE.txt
!macroend
!macro InstallFile Name
  File "${STAGE}/${Name}"
!macroend
!macro RemoveFile Name
  Delete "$INSTDIR\${Name}"
!macroend

; All users' Start menu, and the registry's own 64-bit view.
!macro MachineWide
  SetShellVarContext all
  SetRegView 64
!macroend

Function .onInit
  !insertmacro MachineWide
FunctionEnd

Function un.onInit
  !insertmacro MachineWide
FunctionEnd

Section "TOLVANE"
  SetOutPath "$INSTDIR"
  !insertmacro TolvaneFiles InstallFile
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\TOLVANE.lnk" "$INSTDIR\tolvane.exe" "" "$INSTDIR\tolvane.exe" 0 \
    SW_SHOWNORMAL "" "Read and write the identity of a Quillmark unit"

  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayName "TOLVANE"
  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayVersion "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" Publisher "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" UninstallString '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" QuietUninstallString '"$INSTDIR\uninstall.exe" /S'
  WriteRegStr HKLM "${UNINSTALL_KEY}" InstallLocation "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayIcon "$INSTDIR\tolvane.exe,0"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoModify 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoRepair 1
  ; In KB, as Apps & features reads it.
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" EstimatedSize $0
SectionEnd

Section "Uninstall"
  Delete "$SMPROGRAMS\TOLVANE.lnk"
  !insertmacro TolvaneFiles RemoveFile
  Delete "$INSTDIR\uninstall.exe"
  ; Not /r: the folder goes only once empty, so nothing the user put there is lost.
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
