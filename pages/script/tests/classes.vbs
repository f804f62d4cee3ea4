Class Point
  Private mX, mY
  Public Name
  Dim arr(2)
  Private Sub Class_Initialize()
    mX = 0 : mY = 0 : Name = "pt"
    WScript.Echo "init"
  End Sub
  Private Sub Class_Terminate()
    WScript.Echo "term " & Name
  End Sub
  Public Property Get X() : X = mX : End Property
  Public Property Let X(v) : mX = v : End Property
  Public Property Get Y()
    Y = mY
  End Property
  Public Property Let Y(v)
    If v < 0 Then Err.Raise 5
    mY = v
  End Property
  Public Default Function ToString()
    ToString = "(" & mX & "," & mY & ")"
  End Function
  Public Function Add(other)
    Dim r : Set r = New Point
    r.X = mX + other.X : r.Y = Me.Y + other.Y
    Set Add = r
  End Function
  Sub Bump(ByRef n) : n = n + 1 : End Sub
  Function Fact(n)
    If n <= 1 Then Fact = 1 Else Fact = n * Fact(n - 1)
  End Function
End Class
Dim p, q, k
Set p = New Point
p.X = 3 : p.Y = 4
Set q = New Point
q.X = 10
WScript.Echo p, q.ToString(), p.Add(q)
k = 1 : p.Bump k : WScript.Echo k
WScript.Echo p.Fact(5), TypeName(p), VarType(p), IsObject(p)
p.arr(1) = "a" : WScript.Echo p.arr(1)
p.Name = "P"
On Error Resume Next
p.mX = 1
WScript.Echo Err.Number
Err.Clear
p.Y = -1
WScript.Echo Err.Number
On Error GoTo 0
Set p = Nothing
WScript.Echo "end"
' Instances that hold each other are freed when the engine closes (the
' leak checker of the sanitizer build would report them otherwise).
Class Node
  Public Other, Items
  Private Sub Class_Initialize() : Set Items = CreateObject("Scripting.Dictionary") : End Sub
End Class
Dim a, b
Set a = New Node : Set b = New Node
Set a.Other = b : Set b.Other = a
a.Items.Add "b", b
' A Class_Terminate that raises does not break the page.
Class Faulty
  Private Sub Class_Terminate() : Err.Raise 11 : End Sub
End Class
Dim f : Set f = New Faulty : Set f = Nothing
WScript.Echo "after faulty"
' With on an instance, Me passed out, private member through Me.
Class Counter
  Private n
  Public Sub Inc() : n = n + 1 : End Sub
  Public Property Get Value() : Value = n : End Property
  Public Function Self() : Set Self = Me : End Function
  Public Function Peek(other) : Peek = other.n : End Function
End Class
Dim c : Set c = New Counter
With c
  .Inc : .Inc
  WScript.Echo .Value, .Self.Value, c.Self Is c
End With
On Error Resume Next
WScript.Echo c.Peek(c)
WScript.Echo Err.Number
