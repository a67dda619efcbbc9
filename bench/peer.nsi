; The bench's peer: the nearest ready-made equivalent of the setup's first
; window, made with Debian's nsis package. One page shows a text, with the
; installer's own buttons under it (Next, Cancel). Built for the
; amd64-unicode stubs beside the x86_64 twin, and for the x86-unicode stubs
; beside the shipped i686 setup.exe where 32-bit programs run.
;
;   makensis -V2 -DOUTFILE=/path/peer.exe [-DTARGET=x86-unicode] bench/peer.nsi
!include nsDialogs.nsh

Unicode true
!ifndef TARGET
  !define TARGET amd64-unicode
!endif
Target ${TARGET}
SetCompressor /SOLID lzma
!ifndef OUTFILE
  !define OUTFILE "peer.exe"
!endif
OutFile "${OUTFILE}"
Name "Zentavo peer"
Caption "Zentavo peer"
RequestExecutionLevel user
ShowInstDetails nevershow

Var Dialog

Page custom Welcome
Page instfiles

Function Welcome
  nsDialogs::Create 1018
  Pop $Dialog
  ${NSD_CreateLabel} 0 0 100% 24u "Welcome to the Zentavo setup. Click Next to proceed."
  Pop $0
  nsDialogs::Show
FunctionEnd

Section
SectionEnd
