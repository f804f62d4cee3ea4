Dim a(3), i
For i = 0 To 3 : a(i) = i * 2 : Next
Response.Write Join(a, ",")
