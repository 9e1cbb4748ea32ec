; The per-user installer of terralux, made by makensis from the folder that the zip holds
; (cmake/windows.cmake gives VERSION, VERSION4, PUBLISHER, COPYRIGHT, DESCRIPTION, HOMEPAGE,
; ICON, FILES and OUTFILE). It needs no administrator: the files go to the user's local
; application data, the Start-menu entry and the entry in the list of installed programs are the
; user's own. /S installs, and the uninstaller's /S removes, without a question.

Unicode true
; The default x86 stub would run under WOW64; a 64-bit program gets a 64-bit installer.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true
; The files get the time they are installed at: none is stored, so that two builds are alike.
SetDateSave off

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\terralux"
!define UNINSTALLER "uninstall.exe"
!include "${FILES}"

Name "terralux ${VERSION}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$LOCALAPPDATA\Programs\terralux"
; A reinstall or an upgrade goes where the last install went.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"

VIProductVersion "${VERSION4}"
VIFileVersion "${VERSION4}"
VIAddVersionKey "ProductName" "terralux"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "terralux ${VERSION} installer"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "${COPYRIGHT}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "terralux" main
    !insertmacro TLX_INSTALL_FILES
    ; config.xml is the user's to edit: one already there stays as it is.
    SetOutPath "$INSTDIR"
    SetOverwrite off
    File "config.xml"
    SetOverwrite on
    WriteUninstaller "$INSTDIR\${UNINSTALLER}"

    ; The program reads config.xml, textures\ and audio\ from its working directory: the
    ; shortcut's "start in", which is the output path, $INSTDIR, when it is made.
    CreateShortCut "$SMPROGRAMS\terralux.lnk" "$INSTDIR\terralux.exe" "" \
        "$INSTDIR\terralux.exe" 0 "" "" "${DESCRIPTION}"

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "terralux"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\terralux.exe,0"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "URLInfoAbout" "${HOMEPAGE}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    ; In KiB, as the list of installed programs reads it.
    SectionGetSize ${main} $0
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; Each file the installer put there, by name, and then the directories if they are empty:
; anything else the user keeps there stays.
Section "Uninstall"
    !insertmacro TLX_REMOVE_FILES
    Delete "$INSTDIR\config.xml"
    Delete "$INSTDIR\${UNINSTALLER}"
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\terralux.lnk"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
