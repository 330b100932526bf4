; The Windows installer, lumbra-setup.exe (`make dist`). makensis defines:
;   VERSION  the program's version
;   EXE64    the 64-bit lumbra.exe      EXE32  the 32-bit lumbra.exe
;   README   README.md                  OUTFILE  the installer to write
;
; It puts lumbra.exe (the 32-bit program unless the 64-bit one is chosen)
; into a folder of the user's choice, makes folder 1 there, writes Lumbra.ini
; when a back-end is chosen, and schedules a pass every ten minutes. The
; uninstaller removes the task and the program and nothing else: the device
; folders, their tables, Lumbra.ini, the log and the archive stay.
;
; Silent installation: lumbra-setup.exe /S [/64] [/BACKEND=name]
;   [/DATAPATH=path] [/NOTASK] /D=C:\Lumbra   (/D last, without quotes;
;   quotes around the other options are optional)

Unicode true
; The installer is a 32-bit program, which every Windows runs; the tests
; under a Wine without 32-bit support build it for amd64 (TARGET).
!ifdef TARGET
Target ${TARGET}
!endif
!include LogicLib.nsh
!include Sections.nsh
!include FileFunc.nsh
!include WordFunc.nsh
!include x64.nsh
!include nsDialogs.nsh

!define TASK "Lumbra pass"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumbra"

Name "Lumbra ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "C:\Lumbra"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

Var Backend
Var DataPath
Var NoTask
Var BackendList
Var PathField

Page components
Page directory
Page custom SettingsPage SettingsPageLeave
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The two programs, one of which is installed.
Section "32-bit program (reaches 32-bit drivers)" Sec32
  SetOutPath "$INSTDIR"
  File "/oname=lumbra.exe" "${EXE32}"
SectionEnd

Section /o "64-bit program" Sec64
  SetOutPath "$INSTDIR"
  File "/oname=lumbra.exe" "${EXE64}"
SectionEnd

Section "-Folders, settings and uninstaller"
  SetOutPath "$INSTDIR"
  File "/oname=README.md" "${README}"
  CreateDirectory "$INSTDIR\1"
  ${If} $Backend != ""
    Call WriteSettings
  ${EndIf}
  WriteUninstaller "$INSTDIR\uninstall-lumbra.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Lumbra"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall-lumbra.exe"'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; A pass every ten minutes, whether or not anyone is logged on, as the
; SYSTEM account. The task is defined in XML, the one form of schtasks that
; both Windows and Wine take. Where the Task Scheduler refuses, the
; installation still completes and says how to schedule it by hand.
Section "-Scheduled task"
  ${If} $NoTask == "1"
    Return
  ${EndIf}
  InitPluginsDir
  ${WordReplace} "$INSTDIR" "&" "&amp;" "+" $1
  FileOpen $0 "$PLUGINSDIR\lumbra-task.xml" w
  FileWriteWord $0 0xFEFF
  FileWriteUTF16LE $0 '<?xml version="1.0" encoding="UTF-16"?>$\r$\n'
  FileWriteUTF16LE $0 '<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">$\r$\n'
  FileWriteUTF16LE $0 '  <RegistrationInfo><Description>One Lumbra pass every ten minutes</Description></RegistrationInfo>$\r$\n'
  FileWriteUTF16LE $0 '  <Triggers><TimeTrigger><Repetition><Interval>PT10M</Interval></Repetition>'
  FileWriteUTF16LE $0 '<StartBoundary>2020-01-01T00:00:00</StartBoundary><Enabled>true</Enabled></TimeTrigger></Triggers>$\r$\n'
  FileWriteUTF16LE $0 '  <Principals><Principal id="Author"><UserId>S-1-5-18</UserId><RunLevel>HighestAvailable</RunLevel></Principal></Principals>$\r$\n'
  FileWriteUTF16LE $0 '  <Settings><MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>'
  FileWriteUTF16LE $0 '<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries><StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>'
  FileWriteUTF16LE $0 '<StartWhenAvailable>true</StartWhenAvailable><ExecutionTimeLimit>PT1H</ExecutionTimeLimit><Enabled>true</Enabled></Settings>$\r$\n'
  FileWriteUTF16LE $0 '  <Actions Context="Author"><Exec><Command>$1\lumbra.exe</Command><Arguments>--no-dialogs</Arguments>'
  FileWriteUTF16LE $0 '<WorkingDirectory>$1</WorkingDirectory></Exec></Actions>$\r$\n'
  FileWriteUTF16LE $0 '</Task>$\r$\n'
  FileClose $0
  nsExec::ExecToLog 'schtasks /Create /F /TN "${TASK}" /XML "$PLUGINSDIR\lumbra-task.xml"'
  Pop $0
  ${If} $0 != "0"
    DetailPrint "The scheduled task was not created ($0). Schedule it by hand (README.md):"
    DetailPrint '  schtasks /Create /TN "${TASK}" /SC MINUTE /MO 10 /RU SYSTEM /TR "\"$INSTDIR\lumbra.exe\" --no-dialogs"'
    ${IfNot} ${Silent}
      MessageBox MB_OK|MB_ICONINFORMATION "The scheduled task could not be created. Lumbra is installed; schedule a pass every ten minutes by hand as README.md says."
    ${EndIf}
  ${EndIf}
SectionEnd

; Lumbra.ini in Windows-1252, as the program reads it ("®" is one byte),
; whatever code page the machine uses.
Function WriteSettings
  FileOpen $R9 "$INSTDIR\Lumbra.ini" w
  ${If} $R9 == ""
    DetailPrint "Lumbra.ini could not be written"
    Return
  ${EndIf}
  StrCpy $0 "appname=$Backend$\r$\npath=$DataPath$\r$\n"
  System::Call 'kernel32::WideCharToMultiByte(i 1252, i 0, w r0, i -1, p 0, i 0, p 0, p 0) i .r1'
  System::Alloc $1
  Pop $2
  System::Call 'kernel32::WideCharToMultiByte(i 1252, i 0, w r0, i -1, p r2, i r1, p 0, p 0)'
  IntOp $1 $1 - 1
  System::Call 'kernel32::WriteFile(p R9, p r2, i r1, *i 0, p 0) i'
  System::Free $2
  FileClose $R9
  DetailPrint "Lumbra.ini: appname=$Backend, path=$DataPath"
FunctionEnd

Function .onInit
  StrCpy $1 ${Sec32}
  ${GetParameters} $R0
  ; "/BACKEND=MS Access®" and /BACKEND="MS Access®" alike: a value ends
  ; where the next option begins.
  ${WordReplace} $R0 '"' '' '+' $R0
  ClearErrors
  ${GetOptions} $R0 "/64" $R1
  ${IfNot} ${Errors}
    StrCpy $1 ${Sec64}
  ${EndIf}
  ${GetOptions} $R0 "/BACKEND=" $Backend
  ${GetOptions} $R0 "/DATAPATH=" $DataPath
  ClearErrors
  ${GetOptions} $R0 "/NOTASK" $R1
  ${IfNot} ${Errors}
    StrCpy $NoTask "1"
  ${EndIf}
  ${IfNot} ${RunningX64}
    StrCpy $1 ${Sec32}
    SectionSetFlags ${Sec64} ${SF_RO}
  ${EndIf}
  ${If} $1 == ${Sec64}
    !insertmacro UnselectSection ${Sec32}
    !insertmacro SelectSection ${Sec64}
  ${EndIf}
  StrCpy $R8 $1
FunctionEnd

; One program or the other, never both.
Function .onSelChange
  !insertmacro StartRadioButtons $R8
    !insertmacro RadioButton ${Sec32}
    !insertmacro RadioButton ${Sec64}
  !insertmacro EndRadioButtons
FunctionEnd

Function SettingsPage
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 30u "Lumbra.ini names the back-end and where its data lies. Choose $\"(do not write Lumbra.ini)$\" to write it yourself later (README.md); an existing Lumbra.ini is then kept."
  Pop $0
  ${NSD_CreateLabel} 0 34u 100% 10u "Back-end:"
  Pop $0
  ${NSD_CreateDropList} 0 46u 100% 80u ""
  Pop $BackendList
  ${NSD_CB_AddString} $BackendList "(do not write Lumbra.ini)"
  ${NSD_CB_AddString} $BackendList "MYOB® Aurora (database)"
  ${NSD_CB_AddString} $BackendList "MS Access®"
  ${NSD_CB_AddString} $BackendList "MS® SQL Server"
  ${NSD_CB_AddString} $BackendList "ODBC Datasource"
  ${NSD_CB_AddString} $BackendList "QuickBooks® Premier (database)"
  ${NSD_CB_AddString} $BackendList "MYOB® Premier v9 (text files)"
  ${NSD_CB_AddString} $BackendList "MYOB® Accounting Plus v15 (text files)"
  ${NSD_CB_AddString} $BackendList "MYOB® Accounting v15 (text files)"
  ${NSD_CB_AddString} $BackendList "MYOB® Business Basics v1 (text files)"
  ${NSD_CB_AddString} $BackendList "MoneyWorks Gold"
  ${If} $Backend == ""
    ${NSD_CB_SelectString} $BackendList "(do not write Lumbra.ini)"
  ${Else}
    ${NSD_CB_SelectString} $BackendList $Backend
  ${EndIf}
  ${NSD_CreateLabel} 0 66u 100% 10u "Data path (a file or folder of the back-end, or an ODBC connection string):"
  Pop $0
  ${NSD_CreateText} 0 78u 100% 12u $DataPath
  Pop $PathField
  nsDialogs::Show
FunctionEnd

Function SettingsPageLeave
  ${NSD_GetText} $BackendList $Backend
  ${NSD_GetText} $PathField $DataPath
  ${If} $Backend == "(do not write Lumbra.ini)"
    StrCpy $Backend ""
  ${EndIf}
FunctionEnd

Section "Uninstall"
  nsExec::ExecToLog 'schtasks /Delete /F /TN "${TASK}"'
  Pop $0
  ${If} $0 != "0"
    DetailPrint "No scheduled task ${TASK} was removed ($0)"
  ${EndIf}
  Delete "$INSTDIR\lumbra.exe"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\uninstall-lumbra.exe"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; Only an empty folder goes: the device folders, their tables, the
  ; settings, the log and the archive are the office's.
  RMDir "$INSTDIR"
SectionEnd
