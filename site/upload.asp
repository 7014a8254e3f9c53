<%@ Language="VBScript" %>
<!-- #include file="common.inc" -->
<%
' The upload page: a form posting one file (field "file"); the page saves
' it into /uploads with SavePostedFile and shows what arrived.
Dim total, data, folder, incoming, name, saved, physical, size, helper, url
' Extensions a web server runs, or takes as its own settings, whatever
' folder they are in: IIS (ASP, ASP.NET, server-side includes, CGI
' programs), PHP, Perl and the rest, Windows' own programs and scripts.
Const RunnableExtensions = " asp asa aspx asax ascx ashx asmx axd cdx cer config cshtml vbhtml svc rem soap xamlx idc htr stm shtm shtml php php3 php4 php5 php7 pht phtml phar pl cgi py rb jsp jspx exe com dll bat cmd ps1 psm1 vbs vbe wsf wsh hta scr htaccess htpasswd "

' True when a web server could run a file kept under this name, read as
' Windows and the usual servers read it: in any case, without an NTFS
' stream name (":$DATA" would write the file before it), without the
' trailing dots and blanks Windows drops, and up to a ";" (old IIS ran
' "x.asp;.jpg" as a page). Every extension counts, not only the last:
' Apache runs "x.php.jpg" where PHP is set up with AddHandler.
Function RunnableName(text)
    Dim n, parts, i
    n = LCase(text)
    If InStr(n, ":") > 0 Then n = Left(n, InStr(n, ":") - 1)
    If InStr(n, ";") > 0 Then n = Left(n, InStr(n, ";") - 1)
    Do While Len(n) > 0 And (Right(n, 1) = "." Or Right(n, 1) = " ")
        n = Left(n, Len(n) - 1)
    Loop
    RunnableName = True
    If n = "" Or n = ".user.ini" Then Exit Function
    parts = Split(n, ".")
    For i = 1 To UBound(parts)
        If InStr(RunnableExtensions, " " & Trim(parts(i)) & " ") > 0 Then Exit Function
    Next
    RunnableName = False
End Function

' Nothing of a refused upload stays behind.
Sub RefuseUpload(message)
    If fso.FolderExists(incoming) Then fso.DeleteFolder incoming, True
    Refuse message
End Sub

PageTop "Upload a file"
If Request.ServerVariables("REQUEST_METHOD") = "POST" Then
    total = Request.TotalBytes
    If total = 0 Then Refuse "Nothing was posted."
    Set helper = Server.CreateObject("KestleDLL.Kestle")
    folder = Server.MapPath("/uploads")
    ' The file lands first in a folder of its own outside the web root, only
    ' to learn the name SavePostedFile gives it. Only a name no web server
    ' runs is then saved into /uploads, by the same rule, so the component's
    ' atomic writer replaces an older file of that name whole; a refused
    ' name is never, not even for a moment, one a visitor could ask for.
    ' Refused, not renamed: the sender learns at once why, and no page or
    ' link has to know a changed name.
    data = Request.BinaryRead(total)
    incoming = fso.GetSpecialFolder(2).Path & "\" & fso.GetTempName()
    fso.CreateFolder incoming
    name = helper.SavePostedFile(data, incoming)
    If name = "" Then RefuseUpload "The form held no file."
    If name = "Bad Parameter" Or Left(name, 6) = "Error:" Then RefuseUpload "The file was not saved: " & name
    If RunnableName(name) Then RefuseUpload "The file " & name & " was not kept: a web server could run a file " & _
        "of that name. Put it in a .zip file, or give it another extension, and send it again."
    If Not fso.FileExists(incoming & "\" & name) Then RefuseUpload "The file was not saved."
    If fso.GetFile(incoming & "\" & name).Size = 0 Then RefuseUpload "The file " & name & " is empty (0 bytes); nothing was kept."
    fso.DeleteFolder incoming, True
    saved = helper.SavePostedFile(data, folder)
    If saved <> name Then Refuse "The file " & name & " was not saved: " & saved
    size = fso.GetFile(folder & "\" & name).Size
    physical = folder & "\" & name
    url = "/uploads/" & Replace(Replace(Replace(Server.URLEncode(name), "+", "%20"), "%2E", "."), "%2D", "-")
%>
<p class="saved">Saved <a class="upload" href="<%= H(url) %>"><%= H(name) %></a>:
<span class="size"><%= size %></span> bytes (<%= helper.ConvertFileSize(size) %>).</p>
<% If IsPictureName(name) Then %><p class="thumbnail"><%= Thumbnail(physical, url) %></p><% End If %>
<%
End If
%>
<form method="post" action="upload.asp" enctype="multipart/form-data">
<p><input type="file" name="file"> <input type="submit" value="Upload"></p>
</form>
<% PageBottom %>
