<%
' Waits inside a component past its ScriptTimeout: a web server that answers
' after 5 s (the load test's, on the port 4 above this host's). The page is
' stopped when the call returns to the script, as IIS stops it.
Server.ScriptTimeout = 2
Dim web, text
Set web = Server.CreateObject("Quillnet.MyHttp")
text = web.GetURL("http://127.0.0.1:" & (CLng(Request.ServerVariables("SERVER_PORT")) + 4) & "/", "", "")
Response.Write "fetched " & Len(text)
Do
Loop
%>
