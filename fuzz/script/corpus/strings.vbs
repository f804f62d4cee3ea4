s = "a" & _
  "b" : Do While Len(s) < 20 : s = s & s : Loop : Response.Write Replace(s, "a", "x", 1, -1, 1) & InStrRev(s, "b") & Split(s, "b")(1)
