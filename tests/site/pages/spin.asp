<%
' Past its ScriptTimeout: the host must stop it, answer 500 and serve on.
Server.ScriptTimeout = 2
Do
Loop
%>
