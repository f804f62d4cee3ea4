On Error Resume Next
x = 1 / 0
If Err.Number = 11 Then Response.Write Err.Description
Select Case Mid("abc", 2, 1)
Case "b" : Response.Write "b"
Case Else
End Select
