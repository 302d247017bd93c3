' The floor of one_call.vbs: cscript starting and ending with nothing to do.
Option Explicit
