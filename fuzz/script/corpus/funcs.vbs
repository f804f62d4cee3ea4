Function F(n)
  If n < 2 Then F = 1 Else F = n * F(n - 1)
End Function
Response.Write F(10) & Hex(-1) & CStr(1/3) & FormatNumber(1234.5)
With Request : .Write QueryString("q") : End With
