; The bench's peer: the nearest ready-made equivalent of the setup's first
; window, made with Debian's nsis package. One page shows a text, with the
; installer's own buttons under it (Next, Cancel). Built for the
; amd64-unicode stubs, the only ones this Wine can run (there is no wine32).
;
;   makensis -V2 -DOUTFILE=/path/peer.exe bench/peer.nsi
!include nsDialogs.nsh

Unicode true
Target amd64-unicode
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
