Set d = CreateObject("Scripting.Dictionary")
d.Add "a", 1 : d("b") = #1/2/2003#
For Each k In d : Response.Write k & d(k) : Next
Set d("me") = d
