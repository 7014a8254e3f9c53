<%@ Language="VBScript" %>
<!-- #include file="common.inc" -->
<%
' The group page: one listing window of at most 100 articles, newest first
' by default, with older and newer windows, sorted through ArticleManager
' (by number, size, subject, or by thread with replies indented).
Dim group, startText, newer, sortKey, nntp, result, first, last, count, start, n, i, list, row, id
Dim sortNames, lowest, highest, index, talker
group = Request.QueryString("g") & ""
startText = Request.QueryString("start") & ""
newer = (Request.QueryString("dir") = "newer")
sortKey = Request.QueryString("sort") & ""
If sortKey = "" Then sortKey = "0"
PageTop "Group " & group
If Not GoodGroup(group) Then Refuse "That is not a newsgroup name."
If startText <> "" And Not GoodNumber(startText) Then Refuse "The start must be an article number."
If Not Matches(sortKey, "^[0-3]$") Then Refuse "Sort by 0 (number), 1 (size), 2 (subject) or 3 (thread)."

Set nntp = NewQuillnet("Quillnet.MyNntp")
result = nntp.SetServer(NewsServer)
result = nntp.SetGroup(group)
If result <> session_ok Then Refuse "The group cannot be opened (" & result & "): " & nntp.GetLastError()
first = nntp.GetFirstArticle()
last = nntp.GetLastArticle()
count = nntp.GetArticleCount()
' Without a start the newest window: backward from the last article keeps
' the newest 100 (a forward window from last - 100 would miss the last one).
If startText = "" Then
    start = last
    newer = False
Else
    start = CLng(startText)
End If
If newer Then result = nntp.GetListing(start, 1) Else result = nntp.GetListing(start, 0)
n = nntp.GetListLength()

Set list = Server.CreateObject("Quillnet.ArticleManager")
Set index = Server.CreateObject("Scripting.Dictionary")
Set talker = Server.CreateObject("KestleDLL.Kestle")
For i = 0 To n - 1
    id = CLng(nntp.GetArticleID(i))
    list.AddArticle id, nntp.GetSize(i), nntp.GetSubject(i), nntp.GetMessageID(i), nntp.GetReferences(i), nntp.GetDate(i)
    If Not index.Exists(id) Then index.Add id, i
Next
lowest = list.FirstArticle
highest = list.LastArticle
list.Sort CInt(sortKey)
sortNames = Array("number", "size", "subject", "thread")
%>
<p class="note"><%= count %> articles, numbers <%= first %> to <%= last %>; showing <%= n %>
<% If n > 0 Then %>(<%= lowest %> to <%= highest %>)<% End If %>, sorted by <%= sortNames(CInt(sortKey)) %>.</p>
<p class="paging">
<% If n > 0 And lowest > first Then %><a class="older" href="group.asp?g=<%= Server.URLEncode(group) %>&amp;start=<%= lowest - 1 %>&amp;dir=older&amp;sort=<%= sortKey %>">&laquo; Older</a><% End If %>
<% If n > 0 And highest < last Then %><a class="newer" href="group.asp?g=<%= Server.URLEncode(group) %>&amp;start=<%= highest + 1 %>&amp;dir=newer&amp;sort=<%= sortKey %>">Newer &raquo;</a><% End If %>
Sort by
<% For i = 0 To 3 %><a href="group.asp?g=<%= Server.URLEncode(group) %>&amp;start=<%= startText %>&amp;dir=<% If newer Then %>newer<% Else %>older<% End If %>&amp;sort=<%= i %>"><%= sortNames(i) %></a> <% Next %>
| <a class="new-article" href="post.asp?g=<%= Server.URLEncode(group) %>">New article</a>
</p>
<table class="articles">
<tr><th>No.</th><th>Subject</th><th>From</th><th>Date</th><th>Size</th></tr>
<%
For row = 0 To list.Size - 1
    id = list.ArticleID(row)
    i = index(id)
%><tr><td class="num"><%= id %></td><td class="depth-<%= list.ArticleDepth(row) %>" style="padding-left: <%= 8 + 16 * list.ArticleDepth(row) %>px"><a class="article" href="article.asp?g=<%= Server.URLEncode(group) %>&amp;n=<%= id %>"><%= talker.Smilies(H(nntp.GetSubject(i))) %></a></td><td><%= H(nntp.GetFrom(i)) %></td><td><%= H(nntp.GetDate(i)) %></td><td class="num"><%= list.ArticleSizeStr(row) %> (<%= talker.ConvertFileSize(list.ArticleSize(row)) %>)</td></tr>
<%
Next
%>
</table>
<% PageBottom %>
