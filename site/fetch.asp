<%@ Language="VBScript" %>
<!-- #include file="common.inc" -->
<!-- #include file="fetch_rules.inc" -->
<%
' Fetches a web page with MyHttp and shows its length and title. Only from
' the servers the settings name (FetchAllowed): the address comes from the
' visitor, and the site must not be made to ask itself, this machine or its
' private network for anything on a visitor's behalf.
Dim address, web, text, lower, a, b, title, refusal, first
address = Trim(Request.QueryString("url") & "")
If address = "" Then
    first = Split(Trim(FetchAllowed & "") & " ", " ")
    first = first(0)
    If first <> "" Then
        If InStr(first, "://") = 0 Then first = "http://" & first
        If Right(first, 1) <> "/" Then first = first & "/"
        address = first
    End If
End If
' A visitor waits at most this long, and so does the page's thread.
Const FetchSeconds = 5
PageTop "Fetch a page"
%>
<form method="get" action="fetch.asp"><p>Address: <input type="text" name="url" size="60" value="<%= H(address) %>">
<input type="submit" value="Fetch"></p></form>
<p class="note">Pages are fetched only from <span class="allowed"><% If Trim(FetchAllowed & "") = "" Then %>no server
(the site's settings name none)<% Else %><%= H(FetchAllowed) %><% End If %></span>.
Time limit: <span class="limits"><%= FetchSeconds %> s for the whole fetch</span>; redirects are not
followed (a page that moved shows as an error), so an allowed server cannot send the fetch elsewhere.</p>
<%
If address = "" Then Refuse "Give an http:// or https:// address."
refusal = FetchRefusal(address)
If refusal <> "" Then Refuse refusal
Set web = NewQuillnet("Quillnet.MyHttp")
web.TimeLimit = FetchSeconds
web.Redirects = 0
text = web.GetURL(address, "", "")
If Left(text, 6) = "Error:" Then Refuse "The page could not be fetched: " & text
lower = LCase(text)
a = InStr(lower, "<title>")
b = InStr(lower, "</title>")
If a > 0 And b > a Then title = Trim(Mid(text, a + 7, b - a - 7)) Else title = "(no title)"
%>
<p>Length: <span class="length"><%= Len(text) %></span> characters.</p>
<p>Title: <span class="title"><%= H(title) %></span></p>
<% PageBottom %>
