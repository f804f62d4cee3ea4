' The RegExp object.
Dim re, m, ms, s
Set re = New RegExp
re.Pattern = "(\w+)@(\w+)\.com"
re.IgnoreCase = True
re.Global = True
s = "Mail ann@example.com or BOB@test.com today"
WScript.Echo re.Test(s), TypeName(re)
Set ms = re.Execute(s)
WScript.Echo ms.Count, TypeName(ms)
For Each m In ms
  WScript.Echo m.Value, m.FirstIndex, m.Length, m.SubMatches.Count, m.SubMatches(0), m.SubMatches(1)
Next
WScript.Echo ms(1), ms.Item(0).Value
WScript.Echo re.Replace(s, "<$2:$1>")
WScript.Echo re.Replace("a@b.com", "[$&|$`|$'|$$|$3]")
re.Global = False
WScript.Echo re.Replace(s, "X"), re.Execute(s).Count
Set re = CreateObject("VBScript.RegExp")
re.Pattern = "^b"
WScript.Echo re.Test("a" & vbLf & "b"), re.Multiline
re.Multiline = True
WScript.Echo re.Test("a" & vbLf & "b")
re.Pattern = "(a)|(b)"
Set m = re.Execute("b")(0)
WScript.Echo IsEmpty(m.SubMatches(0)), m.SubMatches(1)
re.Pattern = "x*"
re.Global = True
WScript.Echo re.Replace("abc", "-")
On Error Resume Next
' Compile errors carry the platform's number for their cause.
Dim bad, r
For Each bad In Array("(unclosed", "[abc", "*a", "[z-a]", "a{2,1}")
  re.Pattern = bad
  r = re.Test("x")
  WScript.Echo Err.Number, Err.Description
  Err.Clear
Next
' Catastrophic backtracking stops with an error instead of hanging.
re.Pattern = "^(a+)+$"
r = re.Test(String(40, "a") & "!")
WScript.Echo Err.Number, Err.Description
Err.Clear
r = re.Test(Null)
WScript.Echo Err.Number
