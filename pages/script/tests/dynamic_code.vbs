' Eval, Execute, ExecuteGlobal and GetRef.
Dim x, y
x = 5
WScript.Echo Eval("x * 2"), Eval("x = 5"), TypeName(Eval("1.5"))
Execute "y = x + 1"
WScript.Echo y
ExecuteGlobal "Function Twice(n) : Twice = n * 2 : End Function"
WScript.Echo Twice(21)
ExecuteGlobal "Class Box : Public V : End Class"
Dim b : Set b = New Box : b.V = 7 : WScript.Echo b.V
Sub UsesLocals()
  Dim z : z = 3
  Execute "z = z * 10"
  WScript.Echo z, Eval("z + 1")
End Sub
UsesLocals
Function Add(a, c) : Add = a + c : End Function
Dim f : Set f = GetRef("Add")
WScript.Echo f(2, 3), TypeName(f)
Sub Handler(msg) : WScript.Echo "handled " & msg : End Sub
Dim h : Set h = GetRef("Handler")
h "click"
Class Calc
  Private total
  Public Function Run(expr) : Execute "total = " & expr : Run = total : End Function
End Class
Dim c : Set c = New Calc
WScript.Echo c.Run("6 * 7")
On Error Resume Next
Execute "x = "
WScript.Echo Err.Number, Err.Source
Err.Clear
x = Eval("1 / 0")
WScript.Echo Err.Number
Err.Clear
Set f = GetRef("NoSuchProcedure")
WScript.Echo Err.Number
Err.Clear
' Execute that recurses without end stops at the depth limit (error 28).
ExecuteGlobal "Sub Again() : Execute ""Again"" : End Sub"
Again
WScript.Echo Err.Number
