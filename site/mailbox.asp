<%@ Language="VBScript" %>
<!-- #include file="common.inc" -->
<%
' The mailbox of the local mail server: every message it received, newest
' first (the server keeps each as NNNNNN.txt: headers, a blank line, the body,
' in UTF-16 with its byte order mark, so every language reads back whole).
Dim file, list, names, count, i, stream, text
PageTop "Mailbox"
If MailboxFolder = "" Or Not fso.FolderExists(MailboxFolder) Then Refuse "This site has no mailbox folder."
' Collected as one text and split, rather than grown with ReDim Preserve,
' which Wine's VBScript engine does not survive on a page-level array.
For Each file In fso.GetFolder(MailboxFolder).Files
    If LCase(Right(file.Name, 4)) = ".txt" Then list = list & "|" & file.Name
Next
If list = "" Then Refuse "No mail has arrived yet."
names = Split(Mid(list, 2), "|")
count = UBound(names) + 1
%>
<p><%= count %> messages.</p>
<%
' Names are zero-padded numbers, so the largest is the newest.
Dim j, swap
For i = 0 To count - 2
    For j = i + 1 To count - 1
        If names(j) > names(i) Then
            swap = names(i)
            names(i) = names(j)
            names(j) = swap
        End If
    Next
Next
For i = 0 To count - 1
    Set stream = fso.OpenTextFile(MailboxFolder & "\" & names(i), 1, False, -1)
    text = stream.ReadAll()
    stream.Close
%><pre class="message"><%= H(text) %></pre>
<%
Next
PageBottom
%>
