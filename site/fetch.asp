<%@ Language="VBScript" %>
<!-- #include file="common.inc" -->
<%
' Fetches a web page with MyHttp and shows its length and title.
Dim address, web, text, lower, a, b, title
address = Trim(Request.QueryString("url") & "")
If address = "" Then address = SiteAddress & "welcome.html"
PageTop "Fetch a page"
%>
<form method="get" action="fetch.asp"><p>Address: <input type="text" name="url" size="60" value="<%= H(address) %>">
<input type="submit" value="Fetch"></p></form>
<%
If Not Matches(address, "^https?://[^\s]+$") Then Refuse "Give an http:// or https:// address."
Set web = NewQuillnet("Quillnet.MyHttp")
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
