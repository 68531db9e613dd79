; Installer of Velmora x64 File Archiver. Built by scripts/dist.sh with
; makensis; DIST is the folder that holds the files to install.
Unicode true
; A 64-bit installer for a 64-bit program.
Target amd64-unicode
SetCompressor zlib
RequestExecutionLevel admin

!define VERSION "1.17"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmora"

Name "Velmora ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Velmora"
Icon "${ICON}"
UninstallIcon "${ICON}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Velmora"
    SetRegView 64
    SetShellVarContext all
    SetOutPath "$INSTDIR"
    File "${DIST}\velmora.exe"
    File "${DIST}\velmora-cli.exe"
    File "${DIST}\documentation.txt"
    File "${DIST}\changelog.txt"
    File "${DIST}\license.txt"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateDirectory "$SMPROGRAMS\Velmora"
    ; A shortcut starts its program in the output folder of the moment. Velmora
    ; starts in the user's own folder, so that its file dialogs open there and
    ; not among the program's files.
    StrCpy $OUTDIR "%USERPROFILE%"
    CreateShortcut "$SMPROGRAMS\Velmora\Velmora.lnk" "$INSTDIR\velmora.exe"
    SetOutPath "$INSTDIR"
    CreateShortcut "$SMPROGRAMS\Velmora\Uninstall Velmora.lnk" "$INSTDIR\uninstall.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Velmora ${VERSION} (x64)"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The Velmora developers"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\velmora.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
SectionEnd

Section "Uninstall"
    SetRegView 64
    SetShellVarContext all
    Delete "$INSTDIR\velmora.exe"
    Delete "$INSTDIR\velmora-cli.exe"
    Delete "$INSTDIR\documentation.txt"
    Delete "$INSTDIR\changelog.txt"
    Delete "$INSTDIR\license.txt"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\Velmora\Velmora.lnk"
    Delete "$SMPROGRAMS\Velmora\Uninstall Velmora.lnk"
    RMDir "$SMPROGRAMS\Velmora"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
